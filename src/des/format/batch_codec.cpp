#include "des/format/batch_codec.h"

#include "des/block/block_order.h"
#include "des/format/tail_rule.h"

namespace compatcrypt::des {

namespace {

// The tail of every buffer; its first cipher block lies in the output when
// encoding, in the input when decoding.
void CodeTails(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers, bool cipherInOutput) {
  TailCoder tail(keys);
  for (const BatchBuffer &b : buffers) {
    const std::size_t whole = b.size / kBlockBytes * kBlockBytes;
    const uint8_t *firstCipher = b.size < kBlockBytes ? nullptr : cipherInOutput ? b.out : b.in;
    tail.Code(b.in + whole, b.size - whole, firstCipher, b.out + whole);
  }
}

}  // namespace

void EncodeBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers) {
  CbcEncryptBatch(keys, buffers);
  // After the blocks: the tails are keyed by the first cipher block.
  CodeTails(keys, buffers, true);
}

void DecodeBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers) {
  // Before the blocks: decoding in place overwrites the first cipher block,
  // which keys the tail.
  CodeTails(keys, buffers, false);
  CbcDecryptBatch(keys, buffers);
}

}  // namespace compatcrypt::des
