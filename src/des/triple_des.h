// Two-key triple DES (encrypt, decrypt, encrypt; the outer key first and
// last) and the encoded-buffer format built on it: CBC from a zero IV over
// the full 8-byte blocks, the output exactly as long as the input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/des_engine.h"

namespace compatcrypt::des {

// The schedules of a 16-byte cipher key: the even-numbered bytes form the
// outer key, the odd-numbered bytes the middle key, each read by the key
// rule (up to its first zero byte).
struct TripleDesKeys {
  DesSubkeys outer;
  DesSubkeys middle;
};

void ScheduleTripleDesKeys(const unsigned char *key, TripleDesKeys &keys);

// E(outer, D(middle, E(outer, x))) and its inverse, with one IP and one
// IP^-1 for the three operations: IP^-1 followed by IP cancels in between.
inline uint64_t TripleDesEncrypt(uint64_t block, const TripleDesKeys &keys) {
  uint32_t left = static_cast<uint32_t>(block >> 32);
  uint32_t right = static_cast<uint32_t>(block);
  InitialPermutation(left, right);
  DesRounds<false>(left, right, keys.outer);
  DesRounds<true>(left, right, keys.middle);
  DesRounds<false>(left, right, keys.outer);
  FinalPermutation(left, right);
  return (uint64_t{left} << 32) | right;
}

inline uint64_t TripleDesDecrypt(uint64_t block, const TripleDesKeys &keys) {
  uint32_t left = static_cast<uint32_t>(block >> 32);
  uint32_t right = static_cast<uint32_t>(block);
  InitialPermutation(left, right);
  DesRounds<true>(left, right, keys.outer);
  DesRounds<false>(left, right, keys.middle);
  DesRounds<true>(left, right, keys.outer);
  FinalPermutation(left, right);
  return (uint64_t{left} << 32) | right;
}

// One triple-DES block under three keys, each read by the key rule:
// encrypting gives E(key3, D(key2, E(key1, input))), decrypting
// D(key1, E(key2, D(key3, input))). `output` may be `input`.
void TripleDesBlock(const unsigned char *key1, const unsigned char *key2, const unsigned char *key3,
                    const unsigned char *input, unsigned char *output, int decrypt);

// The encoded-buffer format over `length` bytes. Full blocks are chained
// (CBC, zero IV); a partial last block of r bytes is XORed with the first r
// bytes of the first cipher block. An input of 1 to 7 bytes, which has no
// cipher block, is XORed with the encryption of the zero block instead, so
// that it never comes out in plain and decoding still undoes encoding.
// `out` may be `data` at every length.
void EncodeBuffer(const unsigned char *data, std::size_t length, const TripleDesKeys &keys,
                  unsigned char *out);
void DecodeBuffer(const unsigned char *data, std::size_t length, const TripleDesKeys &keys,
                  unsigned char *out);

}  // namespace compatcrypt::des
