// Bitsliced triple-DES engines: many independent blocks at once, one block
// per bit of a word. The blocks are transposed so that word j holds bit j
// of every block; the permutations then cost nothing (they only rename
// words), the S-boxes are Boolean circuits (sbox_circuits.h), and nothing
// depends on the data but the values computed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/block/des_schedule.h"

namespace compatcrypt::des {

// A two-key schedule spread into masks: the bit that subkey r of key k
// (0 outer, 1 middle) XORs into S-box input i is all ones or all zeros in
// mask[k][r][i]; engines broadcast each mask to a whole word.
struct BitsliceKeys {
  alignas(64) uint32_t mask[2][16][48];
};

void PrepareBitsliceKeys(const TripleDesSchedule &schedule, BitsliceKeys &keys);

// The widest engine's pass: the blocks a caller's buffer must hold.
inline constexpr std::size_t kMaxBitsliceLanes = 512;

// How deep a bitsliced pass reaches below its caller's frame: the
// engine's scratch planes (4 KiB for the widest) and register spills,
// measured with -fstack-usage at about 4.2 KiB, with room to spare. A
// caller burns this much more than its own frame after the work.
inline constexpr std::size_t kBitslicePassStackBytes = 8 * 1024;

struct BitsliceDesEngine {
  const char *name;
  std::size_t lanes;  // blocks a pass takes; a partly filled pass costs a full one
  // Two-key triple DES on `lanes` independent 8-byte blocks read from `in`
  // as they lie in memory (any alignment; `in` may be `blocks`), the
  // results written to `blocks` (64-byte aligned): encrypt outer, decrypt
  // middle, encrypt outer, or its inverse.
  void (*encrypt)(const BitsliceKeys &keys, const unsigned char *in, uint64_t *blocks);
  void (*decrypt)(const BitsliceKeys &keys, const unsigned char *in, uint64_t *blocks);
};

extern const BitsliceDesEngine kBitslicePortable;  // 64-bit words
#if COMPATCRYPT_ENGINE_AVX2
extern const BitsliceDesEngine kBitsliceAvx2;  // 256-bit words
#endif
#if COMPATCRYPT_ENGINE_AVX512
extern const BitsliceDesEngine kBitsliceAvx512;  // 512-bit words
#endif

}  // namespace compatcrypt::des
