// The digest format, in one place. The data is cut into 64-byte blocks;
// each is transformed from the initial words and its five result words are
// added to five sums (modulo 2^32). The tail (0 to 63 bytes) is followed by
// zero bytes and the byte count, modulo 2^32, as a big-endian word in the
// last four bytes of the last closing block; a tail of 57 to 63 bytes leaves
// no room for it and takes a second closing block. The digest is the five
// sums A to E, each written least significant byte first.
//
// Since the blocks are summed, not chained, the sums depend only on the
// blocks, never on how the data was cut into Update calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "digest_core/digest_constants.h"

namespace compatcrypt::digest_core {

class DigestStream {
 public:
  DigestStream() = default;
  DigestStream(const DigestStream &) = default;
  DigestStream &operator=(const DigestStream &) = default;
  // The pending bytes are data: wiped.
  ~DigestStream();

  // Whole blocks are transformed where they lie; at most 63 bytes are kept.
  void Update(std::span<const uint8_t> data);

  // Writes the digest of everything given since the start, then starts over.
  void Finish(std::span<uint8_t, kDigestBytes> out);

  // Takes in `later`, the stream of the data that follows this stream's, so
  // that this stream then stands for both: blocks are summed, not chained,
  // so pieces of one message can be digested apart (on other threads) and
  // joined in order. False, with nothing changed, unless this stream's data
  // is a whole number of blocks (nothing pending).
  bool Append(const DigestStream &later);

 private:
  // Writes the sums as the digest and starts a new message.
  void Write(std::span<uint8_t, kDigestBytes> out);

  uint32_t sums_[5] = {};
  uint32_t byteCount_ = 0;  // modulo 2^32, as the length word holds it
  uint32_t pendingLen_ = 0;
  uint8_t pending_[kBlockSize] = {};
};

}  // namespace compatcrypt::digest_core
