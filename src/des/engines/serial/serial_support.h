// Pieces both serial engines share: IP and
// IP^-1 as exchanges of bit groups, and compile-time views of the FIPS 46-3
// tables that the engines build their constant data from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/block/block_order.h"
#include "des/tables/des_tables.h"

namespace compatcrypt::des::serial {

// Exchanges the bits of `a` selected by `mask` << `shift` with the bits of
// `b` selected by `mask`.
constexpr void SwapBits(uint32_t &a, uint32_t &b, int shift, uint32_t mask) {
  const uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// IP on a block as two words (first word = first four bytes): five
// exchanges; IP^-1 is the same exchanges in reverse order.
constexpr uint64_t InitialPermutation(uint64_t block) {
  uint32_t l = static_cast<uint32_t>(block >> 32);
  uint32_t r = static_cast<uint32_t>(block);
  SwapBits(l, r, 4, 0x0F0F0F0Fu);
  SwapBits(l, r, 16, 0x0000FFFFu);
  SwapBits(r, l, 2, 0x33333333u);
  SwapBits(r, l, 8, 0x00FF00FFu);
  SwapBits(l, r, 1, 0x55555555u);
  return (uint64_t{l} << 32) | r;
}

constexpr uint64_t FinalPermutation(uint64_t block) {
  uint32_t l = static_cast<uint32_t>(block >> 32);
  uint32_t r = static_cast<uint32_t>(block);
  SwapBits(l, r, 1, 0x55555555u);
  SwapBits(r, l, 8, 0x00FF00FFu);
  SwapBits(r, l, 2, 0x33333333u);
  SwapBits(l, r, 16, 0x0000FFFFu);
  SwapBits(l, r, 4, 0x0F0F0F0Fu);
  return (uint64_t{l} << 32) | r;
}

// The halves of a word exchanged: the rounds leave (R16, L16) and the
// next operation of a chain starts from it as (L0, R0).
constexpr uint64_t SwapHalves(uint64_t x) { return (x << 32) | (x >> 32); }

// Output bit i (1-based from the most significant of `bits` bits) is input
// bit table[i - 1] of a `width`-bit input.
template <std::size_t N>
constexpr uint64_t PermuteByTable(uint64_t in, int width, const std::array<uint8_t, N> &table) {
  uint64_t out = 0;
  for (std::size_t i = 0; i < N; ++i) out |= ((in >> (width - table[i])) & 1) << (N - 1 - i);
  return out;
}

constexpr bool ExchangesMatchTables() {
  for (int bit = 0; bit < 64; ++bit) {
    const uint64_t block = uint64_t{1} << bit;
    if (InitialPermutation(block) != PermuteByTable(block, 64, kInitialPermutation)) return false;
    if (FinalPermutation(block) != PermuteByTable(block, 64, kFinalPermutation)) return false;
  }
  return true;
}
static_assert(ExchangesMatchTables(), "the exchanges differ from IP or IP^-1");

// S-box `box` (0 to 7) on a six-bit input, first bit in bit 5: the row is
// the outer two bits, the column the inner four.
constexpr uint8_t SBox(int box, unsigned in) {
  const unsigned row = ((in >> 4) & 2) | (in & 1);
  const unsigned column = (in >> 1) & 15;
  return kSBoxes[box][16 * row + column];
}

// Where S-box output bit q (1-based, 1 to 32, first box first) lands after
// P: the 1-based position in f.
constexpr int PermutedPosition(int q) {
  for (int i = 0; i < 32; ++i)
    if (kPermutation[i] == q) return i + 1;
  return 0;
}

}  // namespace compatcrypt::des::serial
