// The subcommands. Each returns the process's exit status: 0 on success, 1
// when something failed (reported on stderr as it happened).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "password.h"

namespace compatcrypt::cli {

struct DigestOptions {
  std::vector<std::string> files;  // none: standard input
  std::uint64_t offset = 0;
  std::optional<std::string> checkList;
};

enum class Direction { kEncode, kDecode };

struct CoderOptions {
  std::string input = "-";
  std::string output = "-";
  KeyOptions key;
};

int RunDigest(const DigestOptions &options);
int RunCoder(Direction direction, const CoderOptions &options);
int RunKeygen(const KeyOptions &options);

}  // namespace compatcrypt::cli
