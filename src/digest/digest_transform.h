// The digest's block transform: the 80 steps of the SHA-1 compression over
// message words packed from sign-extended bytes, with no feed-forward.
#pragma once

#include <array>
#include <cstdint>

#include "digest/digest_constants.h"

namespace compatcrypt::digest_core {

// The working words A to E.
struct DigestState {
  uint32_t a, b, c, d, e;
};

using DigestSchedule = std::array<uint32_t, kScheduleWords>;

inline constexpr uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Packs four bytes, the first most significant, each taken as a signed
// 8-bit value and sign-extended before it is added. Equivalently: the
// big-endian word, minus one unit of the next higher byte for each of bytes
// 1 to 3 that is 0x80 or more (the sign of byte 0 falls off the top).
inline constexpr uint32_t PackSignExtended(const unsigned char *p) {
  const uint32_t word =
      (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  return word - ((word & 0x00808080u) << 1);
}

// W[0..15] packed from the block, W[16..79] by the SHA-1 expansion.
void DigestMessageSchedule(const unsigned char *block, DigestSchedule &w);

// f_g of the step group g (0 to 3).
inline constexpr uint32_t DigestLogicalFunction(int group, uint32_t b, uint32_t c, uint32_t d) {
  switch (group) {
    case 0:
      return (b & c) | (~b & d);
    case 2:
      return (b & (c | d)) | (c & d);
    default:
      return b ^ c ^ d;
  }
}

// Runs the 80 steps over `state` in place; adds nothing back.
void DigestBlockTransform(const unsigned char *block, DigestState &state);

}  // namespace compatcrypt::digest_core
