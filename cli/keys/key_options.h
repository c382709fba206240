// The key options every command that codes or derives a key takes.
#pragma once

#include <CLI/CLI.hpp>

#include "keys/key_sources.h"

namespace compatcrypt::cli {

// One key source at most: --key, --key-file, --key-env (where a hex key is
// taken: `withHex`), --password-file or --password-env; and
// --allow-empty-password.
void AddKeyOptions(CLI::App &command, KeyOptions &key, bool withHex);

}  // namespace compatcrypt::cli
