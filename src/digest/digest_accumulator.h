// The running sums of a digest and its closing: the tail is followed by zero
// bytes and the 32-bit byte count (big-endian, in the last four bytes of the
// last closing block); a tail of 57 to 63 bytes takes a closing block of its
// own. The five sums are written out least significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "digest/digest_engine.h"

namespace compatcrypt::digest_core {

class DigestAccumulator {
 public:
  // Whole 64-byte blocks, transformed where they lie.
  void AddBlocks(const unsigned char *blocks, std::size_t count) {
    if (count != 0) DigestBlocks(blocks, count, sums_);
  }

  // Closes the digest over `tailLen` (< 64) tail bytes and the total
  // `byteCount` (modulo 2^32), writing 20 bytes to `out`.
  void Finish(const unsigned char *tail, std::size_t tailLen, uint32_t byteCount, unsigned char *out);

 private:
  DigestSums sums_{};
};

}  // namespace compatcrypt::digest_core
