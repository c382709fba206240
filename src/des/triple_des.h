// Blocks as words, the schedules of a cipher key, and single operations on
// one block: what the formats above the engines need besides CBC.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "des/des_schedule.h"

namespace compatcrypt::des {

// A block as a big-endian word: the first byte most significant. One load
// and a byte swap (GCC does not merge the byte-by-byte form), which matters
// where the block starts a chain of dependent work.
inline uint64_t LoadBlock(const unsigned char *p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  return x;
}

inline void StoreBlock(uint64_t x, unsigned char *p) {
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  std::memcpy(p, &x, sizeof x);
}

// A block as it lies in memory (a native-order word): the form the
// bitsliced engines take, and enough for work that only XORs blocks.
inline uint64_t LoadRaw(const unsigned char *p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

inline void StoreRaw(uint64_t x, unsigned char *p) { std::memcpy(p, &x, sizeof x); }

// The schedules of a 16-byte cipher key: the even-numbered bytes form the
// outer key, the odd-numbered bytes the middle key, each read by the key
// rule (up to its first zero byte).
void ScheduleTripleDesKeys(const uint8_t *key, TripleDesSchedule &keys);

// Two-key triple DES of one block: encrypt outer, decrypt middle, encrypt
// outer; and its inverse.
uint64_t TripleDesEncrypt(uint64_t block, const TripleDesSchedule &keys);
uint64_t TripleDesDecrypt(uint64_t block, const TripleDesSchedule &keys);

// One DES operation on one 8-byte block under `key` read by the key rule;
// 0 encrypts, any other `decrypt` decrypts. `key`, `input` and `output` may
// be the same memory.
void DesBlock(const unsigned char *key, const unsigned char *input, unsigned char *output, int decrypt);

}  // namespace compatcrypt::des
