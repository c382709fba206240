// The DES engine on packed bits: a block is a 64-bit word (first byte most
// significant), a key schedule 16 pairs of subkey words built once per key
// and reused for every block under it.
#pragma once

#include <array>
#include <cstdint>

#include "des/des_engine_tables.h"

namespace compatcrypt::des {

struct DesSubkeys {
  std::array<uint32_t, 32> words;  // round k: words[2k], words[2k + 1]
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

inline constexpr uint32_t Rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Exchanges the bits of `a` selected by `mask` << `shift` with the bits of
// `b` selected by `mask`.
inline void SwapBits(uint32_t &a, uint32_t &b, int shift, uint32_t mask) {
  const uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// The initial permutation IP as five exchanges of bit groups between the two
// halves; `left` and `right` enter as the block's high and low words.
inline void InitialPermutation(uint32_t &left, uint32_t &right) {
  SwapBits(left, right, 4, 0x0F0F0F0Fu);
  SwapBits(left, right, 16, 0x0000FFFFu);
  SwapBits(right, left, 2, 0x33333333u);
  SwapBits(right, left, 8, 0x00FF00FFu);
  SwapBits(left, right, 1, 0x55555555u);
}

// IP^-1: the same exchanges in reverse order.
inline void FinalPermutation(uint32_t &left, uint32_t &right) {
  SwapBits(left, right, 1, 0x55555555u);
  SwapBits(right, left, 8, 0x00FF00FFu);
  SwapBits(right, left, 2, 0x33333333u);
  SwapBits(left, right, 16, 0x0000FFFFu);
  SwapBits(left, right, 4, 0x0F0F0F0Fu);
}

// The cipher function f(R, K): expansion, key mixing, S-boxes and P.
inline uint32_t DesFeistel(uint32_t r, uint32_t k0, uint32_t k1) {
  const uint32_t u = Rotl32(r, 5) ^ k0;
  const uint32_t v = Rotl32(r, 9) ^ k1;
  return kSpBoxes[0][u & 63] ^ kSpBoxes[6][(u >> 8) & 63] ^ kSpBoxes[4][(u >> 16) & 63] ^
         kSpBoxes[2][(u >> 24) & 63] ^ kSpBoxes[1][v & 63] ^ kSpBoxes[7][(v >> 8) & 63] ^
         kSpBoxes[5][(v >> 16) & 63] ^ kSpBoxes[3][(v >> 24) & 63];
}

// The 16 rounds between IP and IP^-1, subkeys 1 to 16 to encrypt and 16 to 1
// to decrypt. On return `left` and `right` hold R16 and L16, the order in
// which IP^-1 reads them, so rounds of chained DES operations can follow one
// another with no permutation in between.
template <bool Decrypt>
inline void DesRounds(uint32_t &left, uint32_t &right, const DesSubkeys &subkeys) {
  const uint32_t *k = subkeys.words.data();
  for (int i = 0; i < 16; i += 2) {
    const int first = Decrypt ? 15 - i : i;
    const int second = Decrypt ? 14 - i : i + 1;
    left ^= DesFeistel(right, k[2 * first], k[2 * first + 1]);
    right ^= DesFeistel(left, k[2 * second], k[2 * second + 1]);
  }
  const uint32_t l16 = left;
  left = right;
  right = l16;
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
