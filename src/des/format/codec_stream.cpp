#include "des/format/codec_stream.h"

#include <cstring>

#include "des/block/block_order.h"
#include "des/format/tail_rule.h"
#include "des/modes/triple_des.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {}  // namespace

template <typename Cbc>
CodecStream<Cbc>::CodecStream(std::span<const uint8_t, kCipherKeyBytes> key) {
  ScheduleTripleDesKeys(key.data(), keys_);
}

template <typename Cbc>
CodecStream<Cbc>::~CodecStream() {
  SecureWipe(keys_);
  Restart();
}

template <typename Cbc>
void CodecStream<Cbc>::Restart() {
  SecureWipe(chain_);
  SecureWipe(firstCipher_);
  SecureWipe(heldBytes_);
  haveFirst_ = false;
  held_ = 0;
}

template <typename Cbc>
std::size_t CodecStream<Cbc>::Update(std::span<const uint8_t> in, uint8_t *out) {
  const uint8_t *p = in.data();
  std::size_t n = in.size();
  std::size_t written = 0;
  if (held_ != 0) {
    if (held_ + n < kBlockBytes) {
      std::memcpy(heldBytes_ + held_, p, n);
      held_ += static_cast<uint32_t>(n);
      return 0;
    }
    // The first block joins the held bytes and the head of `in`; it is
    // assembled aside, so `out` may trail `in` by the held bytes.
    const std::size_t take = kBlockBytes - held_;
    uint8_t block[kBlockBytes];
    std::memcpy(block, heldBytes_, held_);
    std::memcpy(block + held_, p, take);
    if (!haveFirst_ && !Cbc::kCipherInOutput) std::memcpy(firstCipher_, block, kBlockBytes);
    Cbc::Blocks(keys_, chain_, block, 1, block);
    if (!haveFirst_ && Cbc::kCipherInOutput) std::memcpy(firstCipher_, block, kBlockBytes);
    haveFirst_ = true;
    std::memcpy(out, block, kBlockBytes);
    SecureWipe(block);
    SecureWipe(heldBytes_);
    held_ = 0;
    p += take;
    n -= take;
    out += kBlockBytes;
    written = kBlockBytes;
  }
  const std::size_t blocks = n / kBlockBytes;
  if (blocks != 0) {
    // The tail is keyed by the first cipher block, which decoding in place
    // overwrites: it is kept before the first block is written.
    if (!haveFirst_ && !Cbc::kCipherInOutput) std::memcpy(firstCipher_, p, kBlockBytes);
    Cbc::Blocks(keys_, chain_, p, blocks, out);
    if (!haveFirst_ && Cbc::kCipherInOutput) std::memcpy(firstCipher_, out, kBlockBytes);
    haveFirst_ = true;
    written += blocks * kBlockBytes;
  }
  held_ = static_cast<uint32_t>(n % kBlockBytes);
  if (held_ != 0) std::memcpy(heldBytes_, p + blocks * kBlockBytes, held_);
  return written;
}

template <typename Cbc>
std::size_t CodecStream<Cbc>::Finish(uint8_t *out) {
  const std::size_t r = held_;
  TailCoder(keys_).Code(heldBytes_, r, haveFirst_ ? firstCipher_ : nullptr, out);
  Restart();
  return r;
}

template class CodecStream<CbcEncryption>;
template class CodecStream<CbcDecryption>;

}  // namespace compatcrypt::des
