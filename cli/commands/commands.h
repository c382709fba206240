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
#include "keys/key_sources.h"

namespace compatcrypt::cli {

struct DigestOptions {
  std::vector<std::string> files;  // none: standard input; with check, the lists
  std::uint64_t offset = 0;        // 0 to 2^63 - 1
  bool check = false;              // -c: files are lists of digest lines to verify
  bool tag = false;                // print (and read) "compatcrypt (NAME) = HEX" lines
  bool quiet = false;              // check: no line for files that match
  bool status = false;             // check: print nothing; the exit status tells
  bool strict = false;             // check: malformed lines make the exit status 1
  bool warn = false;               // check: report each malformed line
  bool ignoreMissing = false;      // check: no failure for files that do not exist
  unsigned jobs = 0;               // threads digesting at once; 0: the CPUs the tool may use
  std::uint64_t chunkSize = 0;     // the smallest piece a file is split into; 0: the default
};

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
