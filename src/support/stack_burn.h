// Clearing of the stack below a caller's frame. Register spills and the
// frames of inner routines (key schedules, derived-key halves, plain
// blocks) lie there after the work returns; explicit wipes reach only the
// named buffers, so every export and every C++ entry that handles secrets
// ends with a burn at least as deep as its work went.
#pragma once

#include <cstddef>

namespace compatcrypt {

// Deep enough for every path of the library: the DES and key routines use
// well under 1 KiB, the digest engines' vector frames under 2 KiB; the file
// digest's read buffer is wiped where it lives.
inline constexpr std::size_t kStackBurnBytes = 4096;

// Zeroes `kStackBurnBytes` of stack below the caller's frame.
void BurnStack() noexcept;

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
