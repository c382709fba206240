// The common frame of the seven exports: the mode check, an optional
// precondition that is reported outside the guard, and the guard that turns
// any failure raised during the work into the export's failure code.
#pragma once

#include <cstdint>
#include <utility>

#include "compatcrypt.h"

namespace compatcrypt::frame {

inline constexpr int32_t kOk = COMPATCRYPT_OK;
inline constexpr int32_t kWrongMode = COMPATCRYPT_WRONG_MODE;
inline constexpr int32_t kFailed = COMPATCRYPT_FAILED;
inline constexpr int32_t kError = COMPATCRYPT_ERROR;

// Raised inside the work when an argument cannot be used (a null pointer
// where bytes are read or written). The guard maps it, like any other
// failure, to the export's failure code.
struct UnusableArgument {};

inline void Require(bool condition) {
  if (!condition) throw UnusableArgument{};
}

// A pointer that `count` bytes are read from or written to must not be
// null; with nothing to touch, any pointer will do.
inline void RequireBytes(const void *pointer, int64_t count) {
  Require(count <= 0 || pointer != nullptr);
}

// Precondition that always lets the work run.
inline int32_t NoPrecheck() noexcept { return kOk; }

// Runs one export: `mode` first, then `precheck` (a result other than kOk is
// returned as it stands, nothing touched), then `work` inside the guard.
// `work` returns the export's result code; anything it throws becomes
// `failure`. Nothing propagates out of an export.
template <typename Precheck, typename Work>
int32_t RunExport(uint32_t mode, int32_t failure, Precheck &&precheck, Work &&work) noexcept {
  if (mode != COMPATCRYPT_MODE) return kWrongMode;
  const int32_t checked = std::forward<Precheck>(precheck)();
  if (checked != kOk) return checked;
  try {
    return std::forward<Work>(work)();
  } catch (...) {
    return failure;
  }
}

template <typename Work>
int32_t RunExport(uint32_t mode, int32_t failure, Work &&work) noexcept {
  return RunExport(mode, failure, NoPrecheck, std::forward<Work>(work));
}

}  // namespace compatcrypt::frame
