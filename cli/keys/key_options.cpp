#include "keys/key_options.h"

#include <vector>

namespace compatcrypt::cli {

void AddKeyOptions(CLI::App &command, KeyOptions &key, bool withHex) {
  std::vector<CLI::Option *> sources;
  sources.push_back(command
                        .add_option("--password-file", key.passwordFile,
                                    "Read the password from the first line of FILE (without its LF or CRLF)")
                        ->type_name("FILE"));
  sources.push_back(
      command
          .add_option("--password-env", key.passwordEnv, "Read the password from environment variable VAR")
          ->type_name("VAR"));
  if (withHex) {
    sources.push_back(command
                          .add_option("--key", key.hex,
                                      "The 16-byte key as 32 hex digits; visible to other users of the "
                                      "system: prefer --key-file or --key-env")
                          ->type_name("HEX"));
    sources.push_back(
        command.add_option("--key-file", key.keyFile, "Read the hex key from the first line of FILE")
            ->type_name("FILE"));
    sources.push_back(
        command.add_option("--key-env", key.keyEnv, "Read the hex key from environment variable VAR")
            ->type_name("VAR"));
  }
  for (CLI::Option *source : sources)
    for (CLI::Option *other : sources)
      if (source != other) source->excludes(other);
  command.add_flag("--allow-empty-password", key.allowEmptyPassword,
                   "Accept an empty password (its key is fixed and public)");
}

}  // namespace compatcrypt::cli
