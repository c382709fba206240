#include "des/des_engine.h"

#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

constexpr uint32_t kHalfMask = 0x0FFFFFFFu;

inline uint32_t Rotl28(uint32_t x, int n) { return ((x << n) | (x >> (28 - n))) & kHalfMask; }

}  // namespace

void DesKeySchedule(uint64_t key, DesSubkeys &subkeys) {
  uint64_t halves = 0;
  for (int n = 0; n < 16; ++n) halves |= kPc1Nibbles[n][(key >> (60 - 4 * n)) & 15];
  uint32_t c = static_cast<uint32_t>(halves >> 32);
  uint32_t d = static_cast<uint32_t>(halves) & kHalfMask;
  for (int round = 0; round < 16; ++round) {
    c = Rotl28(c, kKeyShifts[round]);
    d = Rotl28(d, kKeyShifts[round]);
    const uint64_t words = kPc2Chunks[0][c >> 21] ^ kPc2Chunks[1][(c >> 14) & 127] ^
                           kPc2Chunks[2][(c >> 7) & 127] ^ kPc2Chunks[3][c & 127] ^
                           kPc2Chunks[4][d >> 21] ^ kPc2Chunks[5][(d >> 14) & 127] ^
                           kPc2Chunks[6][(d >> 7) & 127] ^ kPc2Chunks[7][d & 127];
    subkeys.words[2 * round] = static_cast<uint32_t>(words);
    subkeys.words[2 * round + 1] = static_cast<uint32_t>(words >> 32);
  }
  SecureWipe(halves);
  SecureWipe(c);
  SecureWipe(d);
}

void DesBlock(const unsigned char *key, const unsigned char *input, unsigned char *output, int decrypt) {
  // Both key and input are read before output is written: they may alias.
  uint64_t keyBits = ReadDesKey(key);
  uint64_t block = LoadBlock(input);
  DesSubkeys subkeys;
  DesKeySchedule(keyBits, subkeys);
  block = decrypt != 0 ? DesCrypt<true>(block, subkeys) : DesCrypt<false>(block, subkeys);
  StoreBlock(block, output);
  SecureWipe(subkeys);
  SecureWipe(keyBits);
  SecureWipe(block);
}

}  // namespace compatcrypt::des
