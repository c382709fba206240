#include "des/codec_stream.h"

#include <cstring>

#include "des/des_cbc.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

constexpr std::size_t kBlock = 8;

template <CodecDirection Direction>
void CodeBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                uint8_t *out) {
  if constexpr (Direction == CodecDirection::kEncode)
    CbcEncryptBlocks(keys, chain, in, blocks, out);
  else
    CbcDecryptBlocks(keys, chain, in, blocks, out);
}

}  // namespace

template <CodecDirection Direction>
CodecStream<Direction>::CodecStream(std::span<const uint8_t, kCipherKeyBytes> key) {
  ScheduleTripleDesKeys(key.data(), keys_);
}

template <CodecDirection Direction>
CodecStream<Direction>::~CodecStream() {
  SecureWipe(keys_);
  Restart();
}

template <CodecDirection Direction>
void CodecStream<Direction>::Restart() {
  SecureWipe(chain_);
  SecureWipe(first_);
  SecureWipe(heldBytes_);
  haveFirst_ = false;
  held_ = 0;
}

template <CodecDirection Direction>
std::size_t CodecStream<Direction>::Update(std::span<const uint8_t> in, uint8_t *out) {
  const uint8_t *p = in.data();
  std::size_t n = in.size();
  std::size_t written = 0;
  if (held_ != 0) {
    if (held_ + n < kBlock) {
      std::memcpy(heldBytes_ + held_, p, n);
      held_ += static_cast<uint32_t>(n);
      return 0;
    }
    // The first block joins the held bytes and the head of `in`; it is
    // assembled aside, so `out` may trail `in` by the held bytes.
    const std::size_t take = kBlock - held_;
    uint8_t block[kBlock];
    std::memcpy(block, heldBytes_, held_);
    std::memcpy(block + held_, p, take);
    if (!haveFirst_ && Direction == CodecDirection::kDecode) first_ = LoadBlock(block);
    CodeBlocks<Direction>(keys_, chain_, block, 1, block);
    if (!haveFirst_ && Direction == CodecDirection::kEncode) first_ = LoadBlock(block);
    haveFirst_ = true;
    std::memcpy(out, block, kBlock);
    SecureWipe(block);
    SecureWipe(heldBytes_);
    held_ = 0;
    p += take;
    n -= take;
    out += kBlock;
    written = kBlock;
  }
  const std::size_t blocks = n / kBlock;
  if (blocks != 0) {
    // The tail is keyed by the first cipher block, which decoding in place
    // overwrites: it is kept before the first block is written.
    if (!haveFirst_ && Direction == CodecDirection::kDecode) first_ = LoadBlock(p);
    CodeBlocks<Direction>(keys_, chain_, p, blocks, out);
    if (!haveFirst_ && Direction == CodecDirection::kEncode) first_ = LoadBlock(out);
    haveFirst_ = true;
    written += blocks * kBlock;
  }
  held_ = static_cast<uint32_t>(n % kBlock);
  if (held_ != 0) std::memcpy(heldBytes_, p + blocks * kBlock, held_);
  return written;
}

template <CodecDirection Direction>
std::size_t CodecStream<Direction>::Finish(uint8_t *out) {
  const std::size_t r = held_;
  if (r != 0) {
    // The same pad both ways: the first cipher block, which the encoder
    // wrote and the decoder read, or for a message shorter than a block
    // the encryption of the zero block.
    uint64_t pad = haveFirst_ ? first_ : TripleDesEncrypt(0, keys_);
    for (std::size_t k = 0; k < r; ++k)
      out[k] = static_cast<uint8_t>(heldBytes_[k] ^ static_cast<uint8_t>(pad >> (56 - 8 * k)));
    SecureWipe(pad);
  }
  Restart();
  return r;
}

template class CodecStream<CodecDirection::kEncode>;
template class CodecStream<CodecDirection::kDecode>;

}  // namespace compatcrypt::des
