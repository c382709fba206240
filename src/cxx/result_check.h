// Turns the result code of a C function into an exception: success is the
// only code that passes.
#pragma once

#include <cstdint>
#include <string>

#include "compatcrypt.h"
#include "compatcrypt.hpp"

namespace compatcrypt::cxx {

inline void CheckResult(std::int32_t result, const std::string &what) {
  if (result == COMPATCRYPT_OK) return;
  throw Error(result, what + " failed with result code " + std::to_string(result));
}

// The C functions take 32-bit lengths.
inline bool FitsCLength(std::size_t length) { return length <= static_cast<std::size_t>(INT32_MAX); }

inline const unsigned char *Bytes(std::span<const std::byte> data) {
  return reinterpret_cast<const unsigned char *>(data.data());
}

}  // namespace compatcrypt::cxx
