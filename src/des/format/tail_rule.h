// The bytes after a message's whole blocks, in the encoded-buffer format
// (codec_stream.h): a last partial block of r (1 to 7) bytes is XORed with
// the first r bytes of the message's first cipher block; a message of 1 to
// 7 bytes, which has no cipher block, with the triple-DES encryption of the
// zero block instead, so that it never comes out in plain. The pad is the
// same both ways (the encoder writes the first cipher block, the decoder
// reads it), so one routine encodes and decodes. The stream and the batch
// coder both code their tails here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/block/des_schedule.h"

namespace compatcrypt::des {

class TailCoder {
 public:
  explicit TailCoder(const TripleDesSchedule &keys) : keys_(keys) {}
  TailCoder(const TailCoder &) = delete;
  TailCoder &operator=(const TailCoder &) = delete;
  ~TailCoder();

  // Codes the `size` (below 8) bytes after the whole blocks from `in` to
  // `out`, which may be the same. `firstCipher` is the message's first
  // cipher block, or null for a message shorter than a block; it must not
  // lie in `out`'s bytes.
  void Code(const uint8_t *in, std::size_t size, const uint8_t *firstCipher, uint8_t *out);

 private:
  const TripleDesSchedule &keys_;
  // The encryption of the zero block, computed once per coder and only
  // when a short message needs it.
  bool haveZeroPad_ = false;
  uint8_t zeroPad_[8] = {};
};

}  // namespace compatcrypt::des
