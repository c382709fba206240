// Lookup tables of the packed DES engine, built at compile time from the
// FIPS tables so that the two can never disagree.
#pragma once

#include <array>
#include <cstdint>

#include "des/des_tables.h"

namespace compatcrypt::des {

inline constexpr uint32_t Rotl32(uint32_t x, int n) { return (x << n) | (x >> ((32 - n) & 31)); }

// A half block R is kept "wide": rotl(R, 5) in the low word and rotl(R, 9)
// in the high word. Those two rotations bring the expanded bits of R to the
// places where each byte of the wide word holds one 6-bit S-box input in its
// low six bits: bytes 0 to 3 feed S1, S7, S5, S3, bytes 4 to 7 S2, S8, S6,
// S4. The expansion E is then free, as the wide form is kept between rounds.
inline constexpr uint64_t Widen(uint32_t x) { return (uint64_t{Rotl32(x, 9)} << 32) | Rotl32(x, 5); }
inline constexpr uint32_t Narrow(uint64_t x) { return Rotl32(static_cast<uint32_t>(x), 27); }

// The byte of the wide word that holds the input of S-box g + 1.
inline constexpr std::array<int, 8> kBoxByte = {0, 4, 3, 7, 2, 6, 1, 5};

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
      for (int i = 0; i < 32; ++i) permuted |= ((nibbles >> (31 - (kPermutation[i] - 1))) & 1u) << (31 - i);
      sp[s][v] = permuted;
    }
  }
  return sp;
}();

// kSpWide[j][b]: the wide form of f's share from the S-box fed by byte j of
// the wide word, for that byte's value b. A whole byte is the index (its two
// top bits are ignored) so that picking it out costs no mask; f being XORs of
// these shares, the round can stay in the wide form throughout.
alignas(64) inline constexpr auto kSpWide = [] {
  std::array<std::array<uint64_t, 256>, 8> wide{};
  for (int s = 0; s < 8; ++s)
    for (int b = 0; b < 256; ++b) wide[kBoxByte[s]][b] = Widen(kSpBoxes[s][b & 63]);
  return wide;
}();

// The 16 subkeys of a key in the wide layout, each 6-bit group at the byte
// of its S-box, straight from permuted choices 1 and 2 and the rotations.
// Only compile time uses it: the schedule is linear in the key bits.
constexpr std::array<uint64_t, 16> ReferenceSchedule(uint64_t key) {
  uint32_t c = 0;
  uint32_t d = 0;
  for (int j = 0; j < 28; ++j) {
    c |= static_cast<uint32_t>((key >> (64 - kPermutedChoice1[j])) & 1) << (27 - j);
    d |= static_cast<uint32_t>((key >> (64 - kPermutedChoice1[28 + j])) & 1) << (27 - j);
  }
  std::array<uint64_t, 16> subkeys{};
  for (int round = 0; round < 16; ++round) {
    const int n = kKeyShifts[round];
    c = ((c << n) | (c >> (28 - n))) & 0x0FFFFFFFu;
    d = ((d << n) | (d >> (28 - n))) & 0x0FFFFFFFu;
    uint64_t words = 0;
    for (int j = 0; j < 48; ++j) {
      const int source = kPermutedChoice2[j] - 1;
      const uint64_t bit = source < 28 ? (c >> (27 - source)) & 1 : (d >> (55 - source)) & 1;
      words |= bit << (8 * kBoxByte[j / 6] + 5 - j % 6);
    }
    subkeys[round] = words;
  }
  return subkeys;
}

// The schedule as a sum of table rows, one per key nibble: kKeyNibbles[n][v]
// holds the 16 subkeys that key nibble n (bits 4n to 4n + 3, most significant
// first) with value v contributes. Odd nibbles end in an ignored parity bit,
// so only their three top bits index (rows 0 to 7).
struct alignas(64) KeyNibbleRow {
  std::array<uint64_t, 16> subkeys;
};

alignas(64) inline constexpr auto kKeyNibbles = [] {
  std::array<std::array<uint64_t, 16>, 64> unit{};
  for (int p = 0; p < 64; ++p) unit[p] = ReferenceSchedule(uint64_t{1} << (63 - p));
  struct {
    std::array<std::array<KeyNibbleRow, 16>, 8> high;  // nibble 2m, rows 0 to 15
    std::array<std::array<KeyNibbleRow, 8>, 8> low;    // nibble 2m + 1, rows 0 to 7
  } table{};
  for (int m = 0; m < 8; ++m) {
    for (int v = 0; v < 16; ++v)
      for (int i = 0; i < 4; ++i)
        if ((v >> (3 - i)) & 1)
          for (int r = 0; r < 16; ++r) table.high[m][v].subkeys[r] ^= unit[8 * m + i][r];
    for (int v = 0; v < 8; ++v)
      for (int i = 0; i < 3; ++i)
        if ((v >> (2 - i)) & 1)
          for (int r = 0; r < 16; ++r) table.low[m][v].subkeys[r] ^= unit[8 * m + 4 + i][r];
  }
  return table;
}();

}  // namespace compatcrypt::des
