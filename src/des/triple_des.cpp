#include "des/triple_des.h"

#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

constexpr std::size_t kBlock = 8;

// XORs the r < 8 tail bytes with the leading bytes of `pad` (a block word,
// first byte most significant).
void XorTail(const unsigned char *data, std::size_t r, uint64_t pad, unsigned char *out) {
  for (std::size_t k = 0; k < r; ++k)
    out[k] = static_cast<unsigned char>(data[k] ^ static_cast<unsigned char>(pad >> (56 - 8 * k)));
}

}  // namespace

void ScheduleTripleDesKeys(const unsigned char *key, TripleDesKeys &keys) {
  unsigned char outer[8];
  unsigned char middle[8];
  for (int i = 0; i < 8; ++i) {
    outer[i] = key[2 * i];
    middle[i] = key[2 * i + 1];
  }
  DesKeySchedule(ReadDesKey(outer), keys.outer);
  DesKeySchedule(ReadDesKey(middle), keys.middle);
  SecureWipe(outer);
  SecureWipe(middle);
}

void TripleDesBlock(const unsigned char *key1, const unsigned char *key2, const unsigned char *key3,
                    const unsigned char *input, unsigned char *output, int decrypt) {
  DesSubkeys first;
  DesSubkeys second;
  DesSubkeys third;
  DesKeySchedule(ReadDesKey(key1), first);
  DesKeySchedule(ReadDesKey(key2), second);
  DesKeySchedule(ReadDesKey(key3), third);
  uint32_t left = static_cast<uint32_t>(LoadBlock(input) >> 32);
  uint32_t right = static_cast<uint32_t>(LoadBlock(input));
  InitialPermutation(left, right);
  if (decrypt == 0) {
    DesRounds<false>(left, right, first);
    DesRounds<true>(left, right, second);
    DesRounds<false>(left, right, third);
  } else {
    DesRounds<true>(left, right, third);
    DesRounds<false>(left, right, second);
    DesRounds<true>(left, right, first);
  }
  FinalPermutation(left, right);
  StoreBlock((uint64_t{left} << 32) | right, output);
  SecureWipe(first);
  SecureWipe(second);
  SecureWipe(third);
}

void EncodeBuffer(const unsigned char *data, std::size_t length, const TripleDesKeys &keys,
                  unsigned char *out) {
  const std::size_t blocks = length / kBlock;
  const std::size_t r = length % kBlock;
  uint64_t chain = 0;
  uint64_t first = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    chain = TripleDesEncrypt(LoadBlock(data + kBlock * i) ^ chain, keys);
    StoreBlock(chain, out + kBlock * i);
    if (i == 0) first = chain;
  }
  if (r != 0) XorTail(data + kBlock * blocks, r, blocks != 0 ? first : TripleDesEncrypt(0, keys),
                      out + kBlock * blocks);
  SecureWipe(chain);
  SecureWipe(first);
}

void DecodeBuffer(const unsigned char *data, std::size_t length, const TripleDesKeys &keys,
                  unsigned char *out) {
  const std::size_t blocks = length / kBlock;
  const std::size_t r = length % kBlock;
  // The tail is keyed by the first cipher block, which an in-place decoding
  // overwrites: keep it before the first block is written.
  const uint64_t first = blocks != 0 ? LoadBlock(data) : 0;
  uint64_t chain = 0;
  uint64_t plain = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    const uint64_t cipher = LoadBlock(data + kBlock * i);
    plain = TripleDesDecrypt(cipher, keys) ^ chain;
    StoreBlock(plain, out + kBlock * i);
    chain = cipher;
  }
  if (r != 0) XorTail(data + kBlock * blocks, r, blocks != 0 ? first : TripleDesEncrypt(0, keys),
                      out + kBlock * blocks);
  SecureWipe(plain);
}

}  // namespace compatcrypt::des
