// Where the cipher key comes from: a hex key, or a password read from a
// file, an environment variable or the terminal. A password is never taken
// from the command line, where other users could read it.
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
};

// The key of the options. Without --key, --password-file or --password-env
// the password is asked for on the terminal when standard input is one
// (twice when `confirm`). Throws Failure on any problem.
Key ResolveKey(const KeyOptions &options, bool confirm);

// The same without --key: the password's key, for keygen.
Key PasswordKey(const KeyOptions &options, bool confirm);

}  // namespace compatcrypt::cli
