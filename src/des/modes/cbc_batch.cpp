#include "des/modes/cbc_batch.h"

#include <algorithm>
#include <cstring>

#include "des/block/block_order.h"
#include "des/dispatch/des_dispatch.h"
#include "des/modes/des_cbc.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::des {

namespace {

// The frames of EncodeWholeBlocks and DecodeWholeBlocks: key masks, a
// pass, and a chain or cipher block and a place or run per lane (18.3 and
// 26.2 KiB measured with -fstack-usage), rounded up.
constexpr std::size_t kBatchFrameBytes = 28 * 1024;

// Lanes of one encoding group: a buffer each, and its chain.
struct EncodeGroup {
  const BatchBuffer *member[kMaxBitsliceLanes];
  uint64_t chain[kMaxBitsliceLanes];
  std::size_t count = 0;
};

[[gnu::noinline]] void EncodeWholeBlocks(const TripleDesSchedule &keys,
                                         std::span<const BatchBuffer> buffers) {
  const SerialDesEngine &serial = ActiveSerialEngine();
  const std::size_t crossover = BitsliceCrossover();
  BitsliceKeys masks;
  bool prepared = false;
  alignas(64) uint64_t pass[kMaxBitsliceLanes] = {};
  EncodeGroup group;
  std::size_t next = 0;
  for (;;) {
    group.count = 0;
    const BitsliceDesEngine &engine = BitsliceEngineFor(buffers.size() - next);
    for (; group.count < engine.lanes && next < buffers.size(); ++next)
      if (buffers[next].size >= kBlockBytes) {
        group.chain[group.count] = 0;
        group.member[group.count++] = &buffers[next];
      }
    if (group.count == 0) break;
    // Step j takes block j of every buffer that has one. When fewer than
    // the crossover are left, their chains finish on the serial engine.
    for (std::size_t j = 0;; ++j) {
      std::size_t active = 0;
      for (std::size_t g = 0; g < group.count; ++g) active += group.member[g]->size / kBlockBytes > j;
      if (active == 0) break;
      if (active < crossover) {
        for (std::size_t g = 0; g < group.count; ++g) {
          const BatchBuffer &b = *group.member[g];
          const std::size_t blocks = b.size / kBlockBytes;
          if (blocks <= j) continue;
          serial.cbcEncrypt(keys, group.chain[g], b.in + kBlockBytes * j, blocks - j,
                            b.out + kBlockBytes * j);
        }
        break;
      }
      if (!prepared) PrepareBitsliceKeys(keys, masks);
      prepared = true;
      for (std::size_t g = 0; g < group.count; ++g) {
        const BatchBuffer &b = *group.member[g];
        if (b.size / kBlockBytes > j) pass[g] = LoadRaw(b.in + kBlockBytes * j) ^ group.chain[g];
      }
      engine.encrypt(masks, reinterpret_cast<const unsigned char *>(pass), pass);
      for (std::size_t g = 0; g < group.count; ++g) {
        const BatchBuffer &b = *group.member[g];
        if (b.size / kBlockBytes <= j) continue;
        StoreRaw(pass[g], b.out + kBlockBytes * j);
        group.chain[g] = pass[g];
      }
    }
  }
  SecureWipe(masks);
  SecureWipe(pass);
}

// The whole blocks of all buffers, in order, as one run of independent
// decryptions: a block's plain text is its decryption XOR the cipher block
// before it in its buffer (zero for a buffer's first block). A pass is
// filled with runs of consecutive blocks of one buffer, each copied in and
// XORed out in one loop.
[[gnu::noinline]] void DecodeWholeBlocks(const TripleDesSchedule &keys,
                                         std::span<const BatchBuffer> buffers) {
  const SerialDesEngine &serial = ActiveSerialEngine();
  const std::size_t crossover = BitsliceCrossover();
  std::size_t remaining = 0;
  for (const BatchBuffer &buffer : buffers) remaining += buffer.size / kBlockBytes;
  BitsliceKeys masks;
  PrepareBitsliceKeys(keys, masks);
  alignas(64) uint64_t pass[kMaxBitsliceLanes] = {};
  uint64_t cipher[kMaxBitsliceLanes];
  // Blocks first to first + count - 1 of a buffer, in lanes from `lane` on.
  struct Run {
    const BatchBuffer *buffer;
    std::size_t first;
    uint32_t count, lane;
  } runs[kMaxBitsliceLanes];
  uint64_t carry = 0;  // the last cipher block of the previous pass
  std::size_t b = 0;
  std::size_t j = 0;  // the next block of buffers[b]
  while (remaining != 0) {
    const BitsliceDesEngine &engine = BitsliceEngineFor(remaining);
    std::size_t n = 0, runCount = 0;
    while (n < engine.lanes && b < buffers.size()) {
      const std::size_t blocks = buffers[b].size / kBlockBytes;
      if (j >= blocks) {
        ++b;
        j = 0;
        continue;
      }
      const std::size_t count = std::min(blocks - j, engine.lanes - n);
      const uint8_t *in = buffers[b].in + kBlockBytes * j;
      // Into the pass and, kept for the XOR after decryption, beside it.
      for (std::size_t k = 0; k < count; ++k) pass[n + k] = cipher[n + k] = LoadRaw(in + kBlockBytes * k);
      runs[runCount++] = {&buffers[b], j, static_cast<uint32_t>(count), static_cast<uint32_t>(n)};
      n += count;
      j += count;
    }
    // The cipher block before a run's first: none at a buffer's start; the
    // previous pass's last where the run carries on a buffer from it (its
    // input may already be overwritten, when decoding in place).
    const auto before = [&](const Run &run) -> uint64_t {
      if (run.first == 0) return 0;
      return run.lane > 0 ? cipher[run.lane - 1] : carry;
    };
    if (n < crossover) {
      for (std::size_t r = 0; r < runCount; ++r) {
        const Run &run = runs[r];
        uint64_t chain = before(run);
        const std::size_t at = kBlockBytes * run.first;
        serial.cbcDecrypt(keys, chain, run.buffer->in + at, run.count, run.buffer->out + at);
      }
    } else {
      engine.decrypt(masks, reinterpret_cast<const unsigned char *>(pass), pass);
      for (std::size_t r = 0; r < runCount; ++r) {
        const Run &run = runs[r];
        uint8_t *out = run.buffer->out + kBlockBytes * run.first;
        StoreRaw(pass[run.lane] ^ before(run), out);
        for (std::size_t k = 1; k < run.count; ++k)
          StoreRaw(pass[run.lane + k] ^ cipher[run.lane + k - 1], out + kBlockBytes * k);
      }
    }
    carry = cipher[n - 1];
    remaining -= n;
  }
  SecureWipe(masks);
  SecureWipe(pass);
}

}  // namespace

// A short batch, fewer chains (encoding) or blocks (decoding) than the
// crossover, never reaches the bitsliced engines: each buffer goes to the
// serial engine as it lies, with no key masks made and no deep frame to
// burn, as a short run of one buffer does. One row of a table costs that
// much less.
void CbcEncryptBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers) {
  if (buffers.size() < BitsliceCrossover()) {
    for (const BatchBuffer &buffer : buffers) {
      uint64_t chain = 0;
      CbcEncryptBlocks(keys, chain, buffer.in, buffer.size / kBlockBytes, buffer.out);
    }
    return;
  }
  EncodeWholeBlocks(keys, buffers);
  BurnStackDepth<kBatchFrameBytes + kBitslicePassStackBytes>();
}

void CbcDecryptBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers) {
  std::size_t blocks = 0;
  for (const BatchBuffer &buffer : buffers) blocks += buffer.size / kBlockBytes;
  if (blocks < BitsliceCrossover()) {
    for (const BatchBuffer &buffer : buffers) {
      uint64_t chain = 0;
      CbcDecryptBlocks(keys, chain, buffer.in, buffer.size / kBlockBytes, buffer.out);
    }
    return;
  }
  DecodeWholeBlocks(keys, buffers);
  BurnStackDepth<kBatchFrameBytes + kBitslicePassStackBytes>();
}

}  // namespace compatcrypt::des
