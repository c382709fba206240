// The encoded-buffer format. The output is exactly as long as the input;
// nothing is added:
//   - whole 8-byte blocks: two-key triple DES in CBC mode from a zero IV;
//   - a last partial block of r (1 to 7) bytes: XORed with the first r
//     bytes of the first cipher block;
//   - an input of 1 to 7 bytes, which has no cipher block: XORed with the
//     triple-DES encryption of the zero block instead, so that it never
//     comes out in plain and decoding still undoes encoding.
// The last two are the tail rule (tail_rule.h), shared with the batch
// coder (batch_codec.h).
//
// A stream codes one message in any number of Update calls. Bytes that do
// not yet make a whole block (at most 7) are held back: only Finish knows
// they are the tail. Update writes the whole blocks of the held bytes and
// the new input, so its output may run up to 7 bytes ahead of its input
// and lags the total input by the held bytes.
//
// In place: `out` may overlap `in` when it starts at least the held bytes
// (FinishSize()) before it, as when one buffer is coded with a write
// position that trails the read position; with nothing held, `out` may be
// `in`. The output never runs ahead of the input then: every block is read
// before its output is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "des/block/des_schedule.h"
#include "des/modes/des_cbc.h"

namespace compatcrypt::des {

inline constexpr std::size_t kCipherKeyBytes = 16;

// `Cbc` is CbcEncryption (an encoder) or CbcDecryption (a decoder).
template <typename Cbc>
class CodecStream {
 public:
  // The outer key is the even-numbered bytes of `key`, the middle key the
  // odd-numbered ones, each read up to its first zero byte.
  explicit CodecStream(std::span<const uint8_t, kCipherKeyBytes> key);
  CodecStream(const CodecStream &) = default;
  CodecStream &operator=(const CodecStream &) = default;
  // Key schedules, chain and held bytes are wiped.
  ~CodecStream();

  // The bytes Update writes for `inputBytes` more input.
  std::size_t UpdateSize(std::size_t inputBytes) const { return (held_ + inputBytes) / 8 * 8; }
  // The bytes Finish writes.
  std::size_t FinishSize() const { return held_; }

  // Codes the whole blocks of the held bytes and `in` into `out`, which has
  // room for UpdateSize(in.size()) bytes; returns that count.
  std::size_t Update(std::span<const uint8_t> in, uint8_t *out);

  // Writes the tail (FinishSize() bytes) and starts a new message under the
  // same key; returns the count.
  std::size_t Finish(uint8_t *out);

 private:
  void Restart();

  TripleDesSchedule keys_;
  uint64_t chain_ = 0;  // the cipher block before the next one
  // The message's first cipher block, which keys the tail, once there is one.
  uint8_t firstCipher_[8] = {};
  bool haveFirst_ = false;
  uint32_t held_ = 0;
  uint8_t heldBytes_[8] = {};
};

using EncodeStream = CodecStream<CbcEncryption>;
using DecodeStream = CodecStream<CbcDecryption>;

extern template class CodecStream<CbcEncryption>;
extern template class CodecStream<CbcDecryption>;

}  // namespace compatcrypt::des
