// The tool's commands, as main() lists them: each adds its options to its
// subcommand and gives back how to run with what was parsed. A run returns
// the process's exit status: 0 on success, 1 when something failed
// (reported on stderr as it happened); a usage error is thrown.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "compatcrypt.hpp"
#include "digest/digest_options.h"
#include "keys/key_sources.h"

namespace compatcrypt::cli {

struct CoderOptions {
  std::string input = "-";
  std::string output = "-";
  bool force = false;  // -f: an existing output file may be replaced
  KeyOptions key;
};

using CommandRun = std::function<int()>;

struct Command {
  const char *name;
  const char *description;
  CommandRun (*add)(CLI::App &command);
};

// digest, encode, decode, keygen.
std::span<const Command> Commands();

CommandRun AddDigestCommand(CLI::App &command);
CommandRun AddEncodeCommand(CLI::App &command);
CommandRun AddDecodeCommand(CLI::App &command);
CommandRun AddKeygenCommand(CLI::App &command);

}  // namespace compatcrypt::cli
