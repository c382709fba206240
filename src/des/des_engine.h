// The DES engine on packed bits: a block is a 64-bit word (first byte most
// significant), a key schedule 16 pairs of subkey words built once per key
// and reused for every block under it.
#pragma once

#include <array>
#include <cstdint>

#include "des/des_engine_tables.h"

namespace compatcrypt::des {

// Subkey k + 1 in the wide layout: the key bits to XOR into the wide form of
// R before the S-boxes, each 6-bit group in the low bits of its box's byte.
struct DesSubkeys {
  alignas(16) std::array<uint64_t, 16> words;
};

inline uint64_t LoadBlock(const unsigned char *p) {
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | p[i];
  return x;
}

inline void StoreBlock(uint64_t x, unsigned char *p) {
  for (int i = 7; i >= 0; --i, x >>= 8) p[i] = static_cast<unsigned char>(x);
}

// The key rule: a DES key is read up to its first zero byte, at most eight
// bytes; the zero byte and every bit after it count as zero.
inline uint64_t ReadDesKey(const unsigned char *key) {
  uint64_t bits = 0;
  int taken = 0;
  for (; taken < 8 && key[taken] != 0; ++taken) bits |= uint64_t{key[taken]} << (56 - 8 * taken);
  return bits;
}

// The 16 subkeys of `key` (the lowest bit of every key byte is ignored).
void DesKeySchedule(uint64_t key, DesSubkeys &subkeys);

// Exchanges the bits of `a` selected by `mask` << `shift` with the bits of
// `b` selected by `mask`.
constexpr void SwapBits(uint32_t &a, uint32_t &b, int shift, uint32_t mask) {
  const uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// The initial permutation IP as five exchanges of bit groups between the two
// halves; `left` and `right` enter as the block's high and low words.
constexpr void InitialPermutation(uint32_t &left, uint32_t &right) {
  SwapBits(left, right, 4, 0x0F0F0F0Fu);
  SwapBits(left, right, 16, 0x0000FFFFu);
  SwapBits(right, left, 2, 0x33333333u);
  SwapBits(right, left, 8, 0x00FF00FFu);
  SwapBits(left, right, 1, 0x55555555u);
}

// IP^-1: the same exchanges in reverse order.
constexpr void FinalPermutation(uint32_t &left, uint32_t &right) {
  SwapBits(left, right, 1, 0x55555555u);
  SwapBits(right, left, 8, 0x00FF00FFu);
  SwapBits(right, left, 2, 0x33333333u);
  SwapBits(left, right, 16, 0x0000FFFFu);
  SwapBits(left, right, 4, 0x0F0F0F0Fu);
}

// The exchanges above, and the wide form of R, are checked against the
// FIPS 46-3 tables bit by bit at compile time: all three maps are linear, so
// agreeing on every single-bit input is agreeing everywhere.
namespace table_checks {

// Output bit i (1-based from the most significant) is input bit table[i - 1].
template <std::size_t N>
constexpr uint64_t PermuteByTable(uint64_t block, const std::array<uint8_t, N> &table) {
  uint64_t out = 0;
  for (std::size_t i = 0; i < N; ++i) out |= ((block >> (64 - table[i])) & 1) << (63 - i);
  return out;
}

template <bool Final>
constexpr bool ExchangesMatchTable() {
  for (int bit = 0; bit < 64; ++bit) {
    const uint64_t block = uint64_t{1} << bit;
    uint32_t left = static_cast<uint32_t>(block >> 32);
    uint32_t right = static_cast<uint32_t>(block);
    if (Final)
      FinalPermutation(left, right);
    else
      InitialPermutation(left, right);
    const uint64_t expected = PermuteByTable(block, Final ? kFinalPermutation : kInitialPermutation);
    if (((uint64_t{left} << 32) | right) != expected) return false;
  }
  return true;
}

// Box g's six input bits, as the S-box tables index them (first bit most
// significant), sit in the low bits of byte kBoxByte[g] of the wide form.
constexpr bool WideFormIsExpansion() {
  for (int bit = 0; bit < 32; ++bit) {
    const uint32_t r = uint32_t{1} << bit;
    const uint64_t wide = Widen(r);
    for (int g = 0; g < 8; ++g) {
      uint64_t expected = 0;
      for (int k = 0; k < 6; ++k) expected |= uint64_t{(r >> (32 - kExpansion[6 * g + k])) & 1} << (5 - k);
      if (((wide >> (8 * kBoxByte[g])) & 63) != expected) return false;
    }
  }
  return true;
}

static_assert(ExchangesMatchTable<false>(), "InitialPermutation differs from IP");
static_assert(ExchangesMatchTable<true>(), "FinalPermutation differs from IP^-1");
static_assert(WideFormIsExpansion(), "the wide form differs from the expansion E");

}  // namespace table_checks

// An empty asm that claims to change `x`: the compiler must materialise the
// value as it stands, so it cannot reassociate the XORs around it.
inline void Materialise(uint64_t &x) { __asm__("" : "+r"(x)); }

// One wide round on the S-box input `x` (the wide R XOR the subkey) and
// `lk` (L XOR the next subkey): returns (L ^ f) ^ K', the next round's S-box
// input, so that the key mixing lies inside the XOR tree. Each byte of `x` is
// an index as it stands. The tree is pinned (left alone, compilers turn it
// into a chain of XORs with memory operands): the three loads whose byte
// takes one instruction to pick out pair with each other and with `lk`, and
// the result is ready three XORs after the last load.
inline uint64_t WideRound(uint64_t x, uint64_t lk) {
  const auto &t = kSpWide;
  uint64_t p = t[0][x & 255] ^ t[1][(x >> 8) & 255];
  uint64_t q = lk ^ t[7][x >> 56];
  uint64_t r = t[2][(x >> 16) & 255] ^ t[3][static_cast<uint32_t>(x) >> 24];
  uint64_t s = t[4][(x >> 32) & 255] ^ t[5][(x >> 40) & 255];
  uint64_t u = t[6][(x >> 48) & 255];
  Materialise(p);
  Materialise(q);
  Materialise(r);
  Materialise(s);
  uint64_t pq = p ^ q;
  uint64_t su = s ^ u;
  Materialise(pq);
  Materialise(su);
  uint64_t pqr = pq ^ r;
  Materialise(pqr);
  uint64_t next = pqr ^ su;
  Materialise(next);
  return next;
}

// The 16 rounds on wide halves, for N independent blocks at once so that
// their load-latency chains overlap. The serial path runs through the S-box
// inputs x = R ^ K alone: R' ^ K' = (L ^ K') ^ f, with L ^ K' formed while f
// is loading, and R' is recovered off that path as x' ^ K'. On return
// left[n] and right[n] hold R16 and L16, the order in which IP^-1 reads
// them, so rounds of chained DES operations can follow one another with no
// permutation in between.
template <bool Decrypt, int N>
inline void WideRounds(uint64_t (&left)[N], uint64_t (&right)[N], const DesSubkeys &subkeys) {
  const uint64_t *k = subkeys.words.data();
  uint64_t x[N];
  for (int n = 0; n < N; ++n) x[n] = right[n] ^ k[Decrypt ? 15 : 0];
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) {
    // After the last round there is no next subkey: K' = 0.
    const uint64_t next = i < 15 ? k[Decrypt ? 14 - i : i + 1] : 0;
    for (int n = 0; n < N; ++n) {
      uint64_t lk = left[n] ^ next;
      Materialise(lk);
      x[n] = WideRound(x[n], lk);
      left[n] = right[n];
      right[n] = x[n] ^ next;
    }
  }
  for (int n = 0; n < N; ++n) {
    const uint64_t l16 = left[n];
    left[n] = right[n];
    right[n] = l16;
  }
}

// The 16 rounds between IP and IP^-1, subkeys 1 to 16 to encrypt and 16 to 1
// to decrypt. On return `left` and `right` hold R16 and L16, the order in
// which IP^-1 reads them.
template <bool Decrypt>
inline void DesRounds(uint32_t &left, uint32_t &right, const DesSubkeys &subkeys) {
  uint64_t l[1] = {Widen(left)};
  uint64_t r[1] = {Widen(right)};
  WideRounds<Decrypt, 1>(l, r, subkeys);
  left = Narrow(l[0]);
  right = Narrow(r[0]);
}

// One DES operation on a 64-bit block.
template <bool Decrypt>
inline uint64_t DesCrypt(uint64_t block, const DesSubkeys &subkeys) {
  uint32_t left = static_cast<uint32_t>(block >> 32);
  uint32_t right = static_cast<uint32_t>(block);
  InitialPermutation(left, right);
  DesRounds<Decrypt>(left, right, subkeys);
  FinalPermutation(left, right);
  return (uint64_t{left} << 32) | right;
}

// One DES operation on one 8-byte block under `key` read by the key rule;
// 0 encrypts, any other `decrypt` decrypts. `key`, `input` and `output` may
// be the same memory.
void DesBlock(const unsigned char *key, const unsigned char *input, unsigned char *output, int decrypt);

}  // namespace compatcrypt::des
