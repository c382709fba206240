#include "password.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "failure.h"
#include "signals.h"

namespace compatcrypt::cli {

namespace {

// A password held only as long as needed, wiped when it goes.
class Secret {
 public:
  Secret() { value_.reserve(256); }
  ~Secret() { Wipe(); }
  Secret(const Secret &) = delete;
  Secret &operator=(const Secret &) = delete;

  void Append(char c) {
    // Growing the string would leave a copy behind in freed memory.
    if (value_.size() == value_.capacity()) {
      std::string larger;
      larger.reserve(2 * value_.capacity());
      larger = value_;
      Wipe();
      value_.swap(larger);
    }
    value_.push_back(c);
  }
  const std::string &Value() const { return value_; }

 private:
  void Wipe() {
    secure_wipe(value_.data(), value_.size());
    value_.clear();
  }
  std::string value_;
};

// The key of a password as EncodeKey derives it: from the bytes of a
// NUL-terminated string, so a NUL byte could not be part of one.
Key KeyOf(const Secret &password, const std::string &source) {
  if (password.Value().find('\0') != std::string::npos) throw Failure(source, "password contains a NUL byte");
  return Key::from_password(password.Value());
}

// The first line of the file, without its newline.
void ReadPasswordFile(const std::string &path, Secret &password) {
  std::FILE *stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) ThrowErrno(path);
  int c;
  while ((c = std::getc(stream)) != EOF && c != '\n') password.Append(static_cast<char>(c));
  const bool failed = std::ferror(stream) != 0;
  const int cause = errno;
  std::fclose(stream);
  if (failed) throw Failure(path, std::strerror(cause));
}

// Asks on the terminal with echo turned off.
void Prompt(const char *question, Secret &password) {
  termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) ThrowErrno("terminal");
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  // Echo goes off before the question is shown: TCSAFLUSH drops anything
  // typed ahead, so nothing typed after the question may be lost or echoed.
  SetTerminalToRestore(&saved);
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
    SetTerminalToRestore(nullptr);
    ThrowErrno("terminal");
  }
  std::fprintf(stderr, "%s", question);
  std::fflush(stderr);
  // Byte by byte from the descriptor: nothing after the line may be taken
  // into a buffer, since standard input may be read as data afterwards.
  bool ended = false;
  int cause = 0;
  for (;;) {
    char c;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) cause = errno;
    if (got <= 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    password.Append(c);
  }
  // Restored without a flush: what follows the line may be data.
  tcsetattr(STDIN_FILENO, TCSADRAIN, &saved);
  SetTerminalToRestore(nullptr);
  std::fprintf(stderr, "\n");
  if (cause != 0) throw Failure("terminal", std::strerror(cause));
  if (!ended) throw Failure("terminal", "no password given");
}

}  // namespace

Key PasswordKey(const KeyOptions &options, bool confirm) {
  Secret password;
  if (options.passwordFile) {
    ReadPasswordFile(*options.passwordFile, password);
    return KeyOf(password, *options.passwordFile);
  }
  if (options.passwordEnv) {
    const char *value = std::getenv(options.passwordEnv->c_str());
    if (value == nullptr) throw Failure(*options.passwordEnv, "environment variable is not set");
    for (const char *p = value; *p != '\0'; ++p) password.Append(*p);
    return KeyOf(password, *options.passwordEnv);
  }
  if (!isatty(STDIN_FILENO))
    throw Failure("key", "none given: use --key, --password-file or --password-env, or run on a terminal");
  Prompt("Password: ", password);
  if (confirm) {
    Secret again;
    Prompt("Repeat password: ", again);
    if (again.Value() != password.Value()) throw Failure("terminal", "the passwords do not match");
  }
  return KeyOf(password, "terminal");
}

Key ResolveKey(const KeyOptions &options, bool confirm) {
  if (!options.hex) return PasswordKey(options, confirm);
  try {
    return Key::from_hex(*options.hex);
  } catch (const Error &error) {
    throw Failure("--key", error.what());
  }
}

}  // namespace compatcrypt::cli
