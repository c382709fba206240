// Lookup tables of the packed DES engine, built at compile time from the
// FIPS tables so that the two can never disagree.
#pragma once

#include <array>
#include <cstdint>

#include "des/des_tables.h"

namespace compatcrypt::des {

// A subkey is kept as two words whose bytes hold the 6-bit S-box inputs at
// the places where rotl(R, 5) and rotl(R, 9) bring the expanded bits of R:
// word 0 holds the inputs of S1, S7, S5, S3 in bytes 0 to 3, word 1 those of
// S2, S8, S6, S4. The expansion E then costs two rotations.
inline constexpr std::array<uint8_t, 8> kGroupByte = {0, 0, 3, 3, 2, 2, 1, 1};

// kSpBoxes[s][v]: the permutation P applied to the output of S-box s + 1 for
// the 6-bit input v, placed at that box's nibble.
inline constexpr auto kSpBoxes = [] {
  std::array<std::array<uint32_t, 64>, 8> sp{};
  for (int s = 0; s < 8; ++s) {
    for (int v = 0; v < 64; ++v) {
      const int row = ((v >> 4) & 2) | (v & 1);
      const int column = (v >> 1) & 15;
      const uint32_t nibbles = uint32_t{kSBoxes[s][row * 16 + column]} << (28 - 4 * s);
      uint32_t permuted = 0;
      for (int i = 0; i < 32; ++i)
        permuted |= ((nibbles >> (31 - (kPermutation[i] - 1))) & 1u) << (31 - i);
      sp[s][v] = permuted;
    }
  }
  return sp;
}();

// kPc1Nibbles[n][v]: the C (bits 32 to 59) and D (bits 0 to 27) halves that
// key nibble n (bits 4n to 4n + 3, most significant first) with value v
// contributes through permuted choice 1.
inline constexpr auto kPc1Nibbles = [] {
  std::array<std::array<uint64_t, 16>, 16> table{};
  for (int n = 0; n < 16; ++n) {
    for (int v = 0; v < 16; ++v) {
      uint64_t halves = 0;
      for (int j = 0; j < 56; ++j) {
        const int source = kPermutedChoice1[j] - 1;
        if (source / 4 != n || ((v >> (3 - source % 4)) & 1) == 0) continue;
        halves |= j < 28 ? uint64_t{1} << (32 + 27 - j) : uint64_t{1} << (27 - (j - 28));
      }
      table[n][v] = halves;
    }
  }
  return table;
}();

// kPc2Chunks[m][v]: the subkey words (word 0 low, word 1 high) that 7-bit
// chunk m of C followed by D (m = 0 to 3 in C, 4 to 7 in D, most significant
// first) with value v contributes through permuted choice 2.
inline constexpr auto kPc2Chunks = [] {
  std::array<std::array<uint64_t, 128>, 8> table{};
  for (int m = 0; m < 8; ++m) {
    for (int v = 0; v < 128; ++v) {
      uint64_t words = 0;
      for (int j = 0; j < 48; ++j) {
        const int source = kPermutedChoice2[j] - 1;
        if (source / 7 != m || ((v >> (6 - source % 7)) & 1) == 0) continue;
        const int group = j / 6;
        const int bit = 8 * kGroupByte[group] + (5 - j % 6) + (group & 1) * 32;
        words |= uint64_t{1} << bit;
      }
      table[m][v] = words;
    }
  }
  return table;
}();

}  // namespace compatcrypt::des
