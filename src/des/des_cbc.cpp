#include "des/des_cbc.h"

#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

constexpr std::size_t kBlock = 8;

// CBC decryption of whole blocks, N at a time: the blocks do not depend on
// one another, so their rounds interleave. Every block of a group is read
// before any is written. Returns the blocks done.
template <int N>
std::size_t DecryptGroups(const TripleDesKeys &keys, uint64_t &chain, const uint8_t *in, std::size_t count,
                          uint8_t *out) {
  std::size_t i = 0;
  for (; i + N <= count; i += N) {
    uint64_t cipher[N];
    uint64_t left[N];
    uint64_t right[N];
    for (int n = 0; n < N; ++n) {
      cipher[n] = LoadBlock(in + kBlock * (i + n));
      EnterWide(cipher[n], left[n], right[n]);
    }
    TripleWideRounds<true, N>(left, right, keys);
    for (int n = 0; n < N; ++n)
      StoreBlock(LeaveWide(left[n], right[n]) ^ (n == 0 ? chain : cipher[n - 1]), out + kBlock * (i + n));
    chain = cipher[N - 1];
    SecureWipe(left);
    SecureWipe(right);
  }
  return i;
}

}  // namespace

void CbcEncryptBlocks(const TripleDesKeys &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out) {
  if (blocks == 0) return;
  // The chain stays in the wide form after IP: IP and the widening are
  // linear, so IP(P ^ C) widened is IP(P) widened XOR the state the rounds
  // left, and neither IP^-1 nor IP lies on the serial path between blocks.
  uint64_t left[1];
  uint64_t right[1];
  EnterWide(chain, left[0], right[0]);
  for (std::size_t i = 0; i < blocks; ++i) {
    uint64_t l;
    uint64_t h;
    EnterWide(LoadBlock(in + kBlock * i), l, h);
    left[0] ^= l;
    right[0] ^= h;
    TripleWideRounds<false, 1>(left, right, keys);
    StoreBlock(LeaveWide(left[0], right[0]), out + kBlock * i);
  }
  chain = LoadBlock(out + kBlock * (blocks - 1));
}

void CbcDecryptBlocks(const TripleDesKeys &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out) {
  // Four blocks at a time fill the core (three already do; two leave half
  // the latency idle); a shorter rest goes two at a time, then one.
  std::size_t done = DecryptGroups<4>(keys, chain, in, blocks, out);
  done += DecryptGroups<2>(keys, chain, in + kBlock * done, blocks - done, out + kBlock * done);
  DecryptGroups<1>(keys, chain, in + kBlock * done, blocks - done, out + kBlock * done);
}

}  // namespace compatcrypt::des
