// keygen: the key of a password, printed in hex for --key, --key-file or
// --key-env.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "commands/commands.h"
#include "compatcrypt.hpp"
#include "keys/key_options.h"
#include "keys/key_sources.h"
#include "support/failure.h"

namespace compatcrypt::cli {

namespace {

// The key's hex line is built in a buffer of its own and written with
// write(2), so that no string or stdio buffer keeps a copy after it.
void WriteKeyLine(const Key &key) {
  constexpr char kDigits[] = "0123456789abcdef";
  char line[2 * kKeySize + 1];
  // Through a volatile pointer: the digits are stored one by one straight
  // into the buffer, not assembled in a temporary that nothing would wipe.
  volatile char *digit = line;
  std::size_t at = 0;
  for (const std::byte b : key.bytes()) {
    digit[at++] = kDigits[std::to_integer<unsigned>(b) >> 4];
    digit[at++] = kDigits[std::to_integer<unsigned>(b) & 15];
  }
  digit[at++] = '\n';
  int cause = 0;
  if (std::fflush(stdout) != 0) cause = errno;
  for (std::size_t done = 0; cause == 0 && done < at;) {
    const ssize_t put = write(STDOUT_FILENO, line + done, at - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) cause = errno;
    if (put > 0) done += static_cast<std::size_t>(put);
  }
  secure_wipe(line, sizeof line);
  if (cause != 0) {
    errno = cause;
    ThrowErrno("standard output");
  }
}

}  // namespace

CommandRun AddKeygenCommand(CLI::App &command) {
  auto options = std::make_shared<KeyOptions>();
  AddKeyOptions(command, *options, false);
  return [options] {
    WriteKeyLine(PasswordKey(*options, false));
    return 0;
  };
}

}  // namespace compatcrypt::cli
