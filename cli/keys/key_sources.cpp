#include "keys/key_sources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "compatcrypt_bind.h"
#include "io/input_file.h"
#include "keys/secret_text.h"
#include "keys/terminal.h"
#include "support/failure.h"
#include "support/signals.h"
#include "support/stack_burn.h"

namespace compatcrypt::cli {

namespace {

// Below the caller's frame, where the functions that handled a secret had
// theirs (and where registers were saved): deeper than a library call's
// own burn, as reading a key file goes through the C library.
constexpr std::size_t kKeyStackBurnBytes = 16 * 1024;

// The key `work` finds, with the stack burnt after it however it ends.
template <typename Work>
Key Burning(Work &&work) {
  try {
    const Key key = work();
    BurnStackDepth<kKeyStackBurnBytes>();
    return key;
  } catch (...) {
    BurnStackDepth<kKeyStackBurnBytes>();
    throw;
  }
}

// The value of --key, taken out of argv before parsing.
struct HeldKey {
  Secret text;
  bool taken = false;
};

HeldKey &TheHeldKey() {
  static HeldKey held;
  return held;
}

// Overwrites an argument's bytes in place: "*" and then zero bytes.
void Hide(char *value) {
  const std::size_t length = Find(value, SIZE_MAX, '\0');
  if (length == 0) return;
  secure_wipe(value, length);
  value[0] = '*';
}

void Hold(char *value) {
  HeldKey &held = TheHeldKey();
  held.text.Wipe();
  held.text.Append(value, Find(value, SIZE_MAX, '\0'));
  held.taken = true;
  Hide(value);
}

// The longest texts read from a key or password file: a key line is its
// 32 hex digits, a password at most a page. A line end (LF or CRLF) may
// follow; anything longer is refused without reading on, so a file with no
// line end (or /dev/zero) costs no more than this.
constexpr std::size_t kKeyLineLimit = 32;
constexpr std::size_t kPasswordLimit = 4096;

// Whether `path` names this process's standard input: "-", or the file it
// is open on (/dev/stdin, /dev/fd/0, a FIFO that is also standard input).
bool NamesStandardInput(const std::string &path) {
  if (path == "-") return true;
  struct stat named;
  return stat(path.c_str(), &named) == 0 && IsStandardInputFile(named);
}

// Reads the first line of `path` ("-": standard input) without its line
// ending, LF or CRLF (a CR without an LF after it is part of the text), from
// the descriptor into wiped memory: no stdio buffer holds it. Text longer
// than `limit` is refused as `what`. A regular file is read in chunks; any
// other (a pipe, a terminal) a byte at a time, so that nothing after the
// line is taken from whoever reads it next.
void ReadFirstLine(const std::string &path, std::size_t limit, const char *what, Secret &line) {
  const bool standardInput = path == "-";
  const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) ThrowErrno(path);
  struct stat status;
  const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  char chunk[512];
  bool ended = false;
  int cause = 0;
  // One byte past the limit and a CR: enough to tell a line that is too long.
  while (!ended && line.View().size() <= limit + 1) {
    const std::size_t room = limit + 2 - line.View().size();
    const ssize_t got = read(fd, chunk, regular ? std::min(room, sizeof chunk) : 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) cause = errno;
    if (got <= 0) break;
    const std::size_t used = Find(chunk, static_cast<std::size_t>(got), '\n');
    line.Append(chunk, used);
    ended = used < static_cast<std::size_t>(got);
  }
  secure_wipe(chunk, sizeof chunk);
  if (!standardInput) close(fd);
  if (cause != 0) throw Failure(path, std::strerror(cause));
  if (ended && !line.View().empty() && line.View().back() == '\r') line.DropLast();
  if (line.View().size() > limit) {
    line.Wipe();
    throw Failure(path, std::string(what) + " is longer than " + std::to_string(limit) + " bytes");
  }
}

// A key or password file may not be standard input when the data is.
void RefuseSharedInput(const KeyOptions &options, const char *option, const std::string &path) {
  if (options.dataFromStandardInput && NamesStandardInput(path))
    throw UsageError(option, "names standard input, which the data is read from; give the data with --input");
}

// The core's report of the zero-byte rule: a half of the key cut short by
// a zero byte makes the key code like a shorter one.
void WarnOfShortKey(const Key &key) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(key.bytes().data());
  char warning[200];
  if (compatcrypt_bind_key_warning(bytes, kKeySize, warning, sizeof warning) > 0)
    std::fprintf(stderr, "compatcrypt: warning: key: %s\n", warning);
}

// The key of a password as EncodeKey derives it: from the bytes of a
// NUL-terminated string, so a NUL byte could not be part of one. The empty
// password's key is the same for everyone.
Key KeyOf(std::string_view password, const std::string &source, const KeyOptions &options) {
  const int policy =
      compatcrypt_bind_password_check(password.data(), password.size(), COMPATCRYPT_BIND_PASSWORD_STRING);
  if (policy == COMPATCRYPT_BIND_E_PASSWORD_NUL) throw Failure(source, compatcrypt_bind_message(policy));
  if (policy == COMPATCRYPT_BIND_E_PASSWORD_EMPTY && !options.allowEmptyPassword)
    throw UsageError(source, std::string(compatcrypt_bind_message(policy)) +
                                 "; give --allow-empty-password to use it anyway");
  return Key::from_password(password);
}

Key PasswordKeyOf(const KeyOptions &options, bool confirm, const char *sources) {
  Secret password;
  if (options.passwordFile) {
    RefuseSharedInput(options, "--password-file", *options.passwordFile);
    ReadFirstLine(*options.passwordFile, kPasswordLimit, "the password", password);
    return KeyOf(password.View(), *options.passwordFile, options);
  }
  if (options.passwordEnv) {
    const char *value = std::getenv(options.passwordEnv->c_str());
    if (value == nullptr) throw Failure(*options.passwordEnv, "environment variable is not set");
    return KeyOf(value, *options.passwordEnv, options);
  }
  Terminal terminal;
  if (!terminal.Open())
    throw Failure("key", std::string("none given: use ") + sources + ", or run on a terminal");
  terminal.Prompt("Password: ", password);
  // An empty password is refused before it would be asked for again.
  if (password.View().empty() && !options.allowEmptyPassword)
    return KeyOf(password.View(), "terminal", options);
  if (confirm) {
    Secret again;
    terminal.Prompt("Repeat password: ", again);
    if (!SameText(again.View(), password.View())) throw Failure("terminal", "the passwords do not match");
  }
  return KeyOf(password.View(), "terminal", options);
}

Key HexKey(std::string_view hex, const std::string &source) {
  try {
    return Key::from_hex(hex);
  } catch (const Error &error) {
    throw Failure(source, error.what());
  }
}

Key HexKeyOf(const KeyOptions &options) {
  if (options.hex) {
    HeldKey &held = TheHeldKey();
    try {
      const Key key = Key::from_hex(held.taken ? held.text.View() : std::string_view(*options.hex));
      held.text.Wipe();
      return key;
    } catch (const Error &error) {
      held.text.Wipe();
      throw UsageError("--key", error.what());
    }
  }
  if (options.keyFile) {
    RefuseSharedInput(options, "--key-file", *options.keyFile);
    Secret text;
    ReadFirstLine(*options.keyFile, kKeyLineLimit, "the key line", text);
    return HexKey(text.View(), *options.keyFile);
  }
  const char *value = std::getenv(options.keyEnv->c_str());
  if (value == nullptr) throw Failure(*options.keyEnv, "environment variable is not set");
  return HexKey(value, *options.keyEnv);
}

}  // namespace

void TakeKeyArgument(int argc, char **argv) {
  constexpr std::string_view kOption = "--key";
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") return;
    if (argument == kOption && i + 1 < argc) {
      // The parser takes no value that looks like an option.
      const std::string_view next = argv[i + 1];
      if (next.size() > 1 && next[0] == '-') continue;
      Hold(argv[++i]);
    } else if (argument.starts_with("--key=")) {
      Hold(argv[i] + kOption.size() + 1);
    }
  }
}

Key PasswordKey(const KeyOptions &options, bool confirm) {
  const Key key =
      Burning([&] { return PasswordKeyOf(options, confirm, "--password-file or --password-env"); });
  WarnOfShortKey(key);
  return key;
}

Key ResolveKey(const KeyOptions &options, bool confirm) {
  const Key key = Burning([&] {
    return options.hex || options.keyFile || options.keyEnv
               ? HexKeyOf(options)
               : PasswordKeyOf(options, confirm,
                               "--key, --key-file, --key-env, --password-file or --password-env");
  });
  WarnOfShortKey(key);
  return key;
}

}  // namespace compatcrypt::cli
