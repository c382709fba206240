// The digest's block transform: the 80 steps of the SHA-1 compression over
// message words packed from sign-extended bytes, with no feed-forward.
#pragma once

#include <array>
#include <cstdint>

#include "digest_core/digest_constants.h"

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
inline constexpr void DigestMessageSchedule(const unsigned char *block, DigestSchedule &w) {
  for (int i = 0; i < 16; ++i) w[i] = PackSignExtended(block + 4 * i);
  for (int t = 16; t < kScheduleWords; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
}

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

namespace transform_detail {

template <int Group>
inline constexpr void TwentySteps(const DigestSchedule &w, DigestState &s) {
  constexpr uint32_t k = kStepConstants[Group];
  for (int t = 20 * Group; t < 20 * Group + 20; ++t) {
    const uint32_t temp = Rotl(s.a, 5) + DigestLogicalFunction(Group, s.b, s.c, s.d) + s.e + w[t] + k;
    s.e = s.d;
    s.d = s.c;
    s.c = Rotl(s.b, 30);
    s.b = s.a;
    s.a = temp;
  }
}

}  // namespace transform_detail

// Runs the 80 steps over `state` in place; adds nothing back. Usable at
// compile time (digest_closing.h builds a table with it).
inline constexpr void DigestBlockTransform(const unsigned char *block, DigestState &state) {
  DigestSchedule w{};
  DigestMessageSchedule(block, w);
  transform_detail::TwentySteps<0>(w, state);
  transform_detail::TwentySteps<1>(w, state);
  transform_detail::TwentySteps<2>(w, state);
  transform_detail::TwentySteps<3>(w, state);
}

}  // namespace compatcrypt::digest_core
