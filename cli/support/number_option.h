// Whole-number options (--offset, --jobs, --chunk-size), checked as text:
// the parser's unsigned conversion alone would wrap "-1", accept numbers
// past the bound, and read a leading zero as octal. The zeros are dropped.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace compatcrypt::cli {

// Digits only, from `low` to `high` and a multiple of `multiple`; anything
// else is refused as "`refusal`: TEXT".
CLI::Validator WholeNumber(std::uint64_t low, std::uint64_t high, std::uint64_t multiple,
                           std::string refusal);

}  // namespace compatcrypt::cli
