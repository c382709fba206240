#include "des/modes/des_cbc.h"

#include <algorithm>
#include <cstring>

#include "des/block/block_order.h"
#include "des/dispatch/des_dispatch.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::des {

namespace {

constexpr std::size_t kLine = 8;  // blocks in a 64-byte cache line

// DecryptPasses' own frame: key masks and a pass of blocks (10.1 KiB
// measured), rounded up.
constexpr std::size_t kPassesFrameBytes = 12 * 1024;

// Decrypts passes of blocks on the bitsliced engines; a rest shorter than
// the crossover goes to the serial engine. Blocks and the chain are XORed
// as they lie in memory.
[[gnu::noinline]] void DecryptPasses(std::size_t crossover, const TripleDesSchedule &keys, uint64_t &chain,
                                     const uint8_t *in, std::size_t blocks, uint8_t *out) {
  BitsliceKeys masks;
  PrepareBitsliceKeys(keys, masks);
  alignas(64) uint64_t pass[kMaxBitsliceLanes];
  uint64_t previous = chain;
  while (blocks >= crossover && blocks != 0) {
    const BitsliceDesEngine &engine = BitsliceEngineFor(blocks);
    const std::size_t n = std::min(blocks, engine.lanes);
    // A whole pass is read where it lies; a part pass is copied into the
    // pass first, as the engine reads all its lanes.
    const unsigned char *source = in;
    if (n < engine.lanes) {
      std::memcpy(pass, in, n * kBlockBytes);
      source = reinterpret_cast<const unsigned char *>(pass);
    }
    engine.decrypt(masks, source, pass);
    // Plain block i is the decryption XOR cipher block i - 1. `out` may
    // trail `in` by up to 7 bytes, so a cipher block must be read before
    // the output over it is written. A line of eight cipher blocks is read
    // before its eight outputs go out, which also spares the compiler
    // ordering every store against the next load (2-3% of decoding).
    std::size_t i = 0;
    for (; i + kLine <= n; i += kLine) {
      uint64_t cipher[kLine];
      for (std::size_t j = 0; j < kLine; ++j) cipher[j] = LoadRaw(in + kBlockBytes * (i + j));
      StoreRaw(pass[i] ^ previous, out + kBlockBytes * i);
      for (std::size_t j = 1; j < kLine; ++j)
        StoreRaw(pass[i + j] ^ cipher[j - 1], out + kBlockBytes * (i + j));
      previous = cipher[kLine - 1];
    }
    for (; i < n; ++i) {
      const uint64_t cipher = LoadRaw(in + kBlockBytes * i);
      StoreRaw(pass[i] ^ previous, out + kBlockBytes * i);
      previous = cipher;
    }
    in += n * kBlockBytes;
    out += n * kBlockBytes;
    blocks -= n;
  }
  chain = previous;
  SecureWipe(masks);
  SecureWipe(pass);
  if (blocks != 0) ActiveSerialEngine().cbcDecrypt(keys, chain, in, blocks, out);
}

}  // namespace

void CbcEncryptBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out) {
  if (blocks != 0) ActiveSerialEngine().cbcEncrypt(keys, chain, in, blocks, out);
}

void CbcDecryptBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out) {
  const std::size_t crossover = BitsliceCrossover();
  if (blocks < crossover) {
    if (blocks != 0) ActiveSerialEngine().cbcDecrypt(keys, chain, in, blocks, out);
    return;
  }
  // The engines' frames (a pass of planes, register spills) lie deeper
  // than the burn at the end of an export reaches: they are burnt here.
  DecryptPasses(crossover, keys, chain, in, blocks, out);
  BurnStackDepth<kPassesFrameBytes + kBitslicePassStackBytes>();
}

}  // namespace compatcrypt::des
