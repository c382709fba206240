// The frame every export shares: the mode check, the result codes, and the
// run of the work after the export's own argument checks (plain early
// returns in each export), with the stack below it burnt afterwards and a
// backstop that turns anything thrown into the export's failure code.
#pragma once

#include <cstdint>

#include "compatcrypt.h"
#include "support/stack_burn.h"

namespace compatcrypt::frame {

inline constexpr int32_t kOk = COMPATCRYPT_OK;
inline constexpr int32_t kWrongMode = COMPATCRYPT_WRONG_MODE;
inline constexpr int32_t kFailed = COMPATCRYPT_FAILED;
inline constexpr int32_t kError = COMPATCRYPT_ERROR;

// Checked before any other argument is looked at.
inline bool ModeAccepted(uint32_t mode) { return mode == COMPATCRYPT_MODE; }

// Runs `work` (which returns the result code) in a frame of its own, then
// burns the stack it used. The core raises nothing; should anything be
// thrown all the same, it becomes `failure` and never leaves the export.
template <typename Work>
int32_t Run(int32_t failure, Work &&work) noexcept {
  int32_t result = failure;
  try {
    result = RunInOwnFrame(work);
  } catch (...) {
    result = failure;
  }
  BurnStack();
  return result;
}

}  // namespace compatcrypt::frame
