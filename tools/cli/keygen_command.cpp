// keygen: the key of a password, printed in hex for --key, --key-file or
// --key-env.
#include <cstdio>

#include "commands.h"
#include "compatcrypt.hpp"
#include "password.h"

namespace compatcrypt::cli {

int RunKeygen(const KeyOptions &options) {
  const Key key = PasswordKey(options, false);
  std::printf("%s\n", key.to_hex().c_str());
  return 0;
}

}  // namespace compatcrypt::cli
