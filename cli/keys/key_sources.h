// Where the cipher key comes from: a hex key (--key, --key-file, --key-env),
// or a password read from a file, an environment variable or the terminal.
// A password is never taken from the command line, where other users could
// read it, and no copy of key or password text is left unwiped.
#pragma once

#include <optional>
#include <string>

#include "compatcrypt.hpp"

namespace compatcrypt::cli {

struct KeyOptions {
  std::optional<std::string> hex;           // --key (visible to other users)
  std::optional<std::string> keyFile;       // --key-file
  std::optional<std::string> keyEnv;        // --key-env
  std::optional<std::string> passwordFile;  // --password-file
  std::optional<std::string> passwordEnv;   // --password-env
  bool allowEmptyPassword = false;          // --allow-empty-password
  // The data is read from standard input: a key or password file may not
  // name it too ("-", /dev/stdin, /dev/fd/0), or the key reader would take
  // some of the data, and the data some of the key.
  bool dataFromStandardInput = false;
};

// Takes the value of --key (as "--key HEX" or "--key=HEX", up to a "--")
// out of the command line before the option parser sees it: the value is
// kept in wiped memory for ResolveKey, and its bytes in argv are
// overwritten with a placeholder, so that /proc/PID/cmdline shows it no
// longer and the parser never holds a copy.
void TakeKeyArgument(int argc, char **argv);

// The key of the options. Without a key source the password is asked for
// on the terminal (/dev/tty), twice when `confirm`. A key with a zero byte
// that cuts its outer or middle half short gets a warning on stderr.
// Throws UsageError for a malformed --key or an empty password without
// --allow-empty-password, and Failure for any other problem.
Key ResolveKey(const KeyOptions &options, bool confirm);

// The same from the password sources only: the password's key, for keygen.
Key PasswordKey(const KeyOptions &options, bool confirm);

}  // namespace compatcrypt::cli
