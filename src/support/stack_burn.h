// Clearing of the stack below a caller's frame. Register spills and the
// frames of inner routines (key schedules, derived-key halves, plain
// blocks) lie there after the work returns; explicit wipes reach only the
// named buffers, so every export and every C++ entry that handles secrets
// ends with a burn at least as deep as its work went.
#pragma once

#include <cstddef>

#include "support/secure_wipe.h"

namespace compatcrypt {

// Deep enough for every path below an export (measured with -fstack-usage
// at -O3: the key and DES paths about 0.8 KiB, the digest's closing blocks
// through the AVX2 engine about 1.3 KiB). The file digest reads into a
// 16 KiB buffer, wiped where it lives, and burns below it itself.
inline constexpr std::size_t kStackBurnBytes = 2048;

// Zeroes `kStackBurnBytes` of stack below the caller's frame.
void BurnStack() noexcept;

// Zeroes `Bytes` of stack below the caller's frame, for work that goes
// deeper than every export's burn (the bitsliced engines' passes).
template <std::size_t Bytes>
[[gnu::noinline]] void BurnStackDepth() noexcept {
  unsigned char area[Bytes];
  SecureWipe(area, sizeof area);
}

// Runs `work` in a frame of its own, then burns the stack below the caller,
// which covers that frame too.
template <typename Work>
[[gnu::noinline]] auto RunInOwnFrame(Work &work) {
  return work();
}

template <typename Work>
auto RunAndBurn(Work &&work) {
  auto result = RunInOwnFrame(work);
  BurnStack();
  return result;
}

}  // namespace compatcrypt
