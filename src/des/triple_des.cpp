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
  uint64_t left[1];
  uint64_t right[1];
  EnterWide(LoadBlock(input), left[0], right[0]);
  if (decrypt == 0) {
    WideRounds<false, 1>(left, right, first);
    WideRounds<true, 1>(left, right, second);
    WideRounds<false, 1>(left, right, third);
  } else {
    WideRounds<true, 1>(left, right, third);
    WideRounds<false, 1>(left, right, second);
    WideRounds<true, 1>(left, right, first);
  }
  StoreBlock(LeaveWide(left[0], right[0]), output);
  SecureWipe(first);
  SecureWipe(second);
  SecureWipe(third);
}

void EncodeBuffer(const unsigned char *data, std::size_t length, const TripleDesKeys &keys,
                  unsigned char *out) {
  const std::size_t blocks = length / kBlock;
  const std::size_t r = length % kBlock;
  // The chain stays in the wide form after IP: IP and the widening are
  // linear, so IP(P ^ C) widened is IP(P) widened XOR the state the rounds
  // left, and neither IP^-1 nor IP lies on the serial path between blocks.
  uint64_t left[1] = {0};
  uint64_t right[1] = {0};
  uint64_t first = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    uint64_t l;
    uint64_t h;
    EnterWide(LoadBlock(data + kBlock * i), l, h);
    left[0] ^= l;
    right[0] ^= h;
    TripleWideRounds<false, 1>(left, right, keys);
    const uint64_t cipher = LeaveWide(left[0], right[0]);
    StoreBlock(cipher, out + kBlock * i);
    if (i == 0) first = cipher;
  }
  if (r != 0)
    XorTail(data + kBlock * blocks, r, blocks != 0 ? first : TripleDesEncrypt(0, keys),
            out + kBlock * blocks);
  SecureWipe(left);
  SecureWipe(right);
  SecureWipe(first);
}

namespace {

// CBC decryption of `count` whole blocks, N at a time: the blocks do not
// depend on one another, so their rounds interleave. `chain` is the cipher
// block before the first one and is updated to the last one. Every block of
// a group is read before any is written, for in-place decoding.
template <int N>
std::size_t DecodeGroups(const unsigned char *data, std::size_t count, const TripleDesKeys &keys,
                         uint64_t &chain, unsigned char *out) {
  std::size_t i = 0;
  for (; i + N <= count; i += N) {
    uint64_t cipher[N];
    uint64_t left[N];
    uint64_t right[N];
    for (int n = 0; n < N; ++n) {
      cipher[n] = LoadBlock(data + kBlock * (i + n));
      EnterWide(cipher[n], left[n], right[n]);
    }
    TripleWideRounds<true, N>(left, right, keys);
    for (int n = 0; n < N; ++n)
      StoreBlock(LeaveWide(left[n], right[n]) ^ (n == 0 ? chain : cipher[n - 1]), out + kBlock * (i + n));
    chain = cipher[N - 1];
  }
  return i;
}

}  // namespace

void DecodeBuffer(const unsigned char *data, std::size_t length, const TripleDesKeys &keys,
                  unsigned char *out) {
  const std::size_t blocks = length / kBlock;
  const std::size_t r = length % kBlock;
  // The tail is keyed by the first cipher block, which an in-place decoding
  // overwrites: keep it before the first block is written.
  const uint64_t first = blocks != 0 ? LoadBlock(data) : 0;
  uint64_t chain = 0;
  // Four blocks at a time fill the core (three already do; two leave half
  // the latency idle); a shorter rest goes two at a time, then one.
  std::size_t done = 0;
  done += DecodeGroups<4>(data + kBlock * done, blocks - done, keys, chain, out + kBlock * done);
  done += DecodeGroups<2>(data + kBlock * done, blocks - done, keys, chain, out + kBlock * done);
  done += DecodeGroups<1>(data + kBlock * done, blocks - done, keys, chain, out + kBlock * done);
  if (r != 0)
    XorTail(data + kBlock * blocks, r, blocks != 0 ? first : TripleDesEncrypt(0, keys),
            out + kBlock * blocks);
}

}  // namespace compatcrypt::des
