#include "des/des_engine.h"

#include "support/secure_wipe.h"

namespace compatcrypt::des {

void DesKeySchedule(uint64_t key, DesSubkeys &subkeys) {
  // The schedule is linear in the key bits, so it is the XOR of one table
  // row per key nibble: 16 rows of 16 words in place of permuted choice 1
  // and 16 rounds of rotations and permuted choice 2.
  const KeyNibbleRow *rows[16];
  for (int m = 0; m < 8; ++m) {
    rows[2 * m] = &kKeyNibbles.high[m][(key >> (60 - 8 * m)) & 15];
    rows[2 * m + 1] = &kKeyNibbles.low[m][(key >> (57 - 8 * m)) & 7];
  }
  // Two words to a vector register: the sum stays in registers (no copy of
  // the schedule on the stack) and is stored once.
  typedef uint64_t Pair __attribute__((vector_size(16)));
  Pair sum[8];
  __builtin_memcpy(sum, rows[0]->subkeys.data(), sizeof sum);
#pragma GCC unroll 16
  for (int n = 1; n < 16; ++n) {
#pragma GCC unroll 8
    for (int p = 0; p < 8; ++p) {
      Pair row;
      __builtin_memcpy(&row, rows[n]->subkeys.data() + 2 * p, sizeof row);
      sum[p] ^= row;
    }
  }
  __builtin_memcpy(subkeys.words.data(), sum, sizeof sum);
}

void DesBlock(const unsigned char *key, const unsigned char *input, unsigned char *output, int decrypt) {
  // Both key and input are read before output is written: they may alias.
  const uint64_t keyBits = ReadDesKey(key);
  uint64_t block = LoadBlock(input);
  DesSubkeys subkeys;
  DesKeySchedule(keyBits, subkeys);
  block = decrypt != 0 ? DesCrypt<true>(block, subkeys) : DesCrypt<false>(block, subkeys);
  StoreBlock(block, output);
  // Only the schedule is wiped: the key and block words live in registers,
  // and wiping them would force them through memory for nothing.
  SecureWipe(subkeys);
}

}  // namespace compatcrypt::des
