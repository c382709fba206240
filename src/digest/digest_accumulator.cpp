#include "digest/digest_accumulator.h"

#include <cstring>

#include "digest/digest_constants.h"
#include "support/secure_wipe.h"

namespace compatcrypt::digest_core {

void DigestAccumulator::Finish(const unsigned char *tail, std::size_t tailLen, uint32_t byteCount,
                               unsigned char *out) {
  unsigned char closing[2 * kBlockSize] = {};
  if (tailLen != 0) std::memcpy(closing, tail, tailLen);
  const std::size_t closingBlocks = tailLen > kMaxTailWithLength ? 2 : 1;
  unsigned char *length = closing + closingBlocks * kBlockSize - 4;
  length[0] = static_cast<unsigned char>(byteCount >> 24);
  length[1] = static_cast<unsigned char>(byteCount >> 16);
  length[2] = static_cast<unsigned char>(byteCount >> 8);
  length[3] = static_cast<unsigned char>(byteCount);
  AddBlocks(closing, closingBlocks);
  SecureWipe(closing);

  for (std::size_t i = 0; i < sums_.size(); ++i) {
    out[4 * i + 0] = static_cast<unsigned char>(sums_[i]);
    out[4 * i + 1] = static_cast<unsigned char>(sums_[i] >> 8);
    out[4 * i + 2] = static_cast<unsigned char>(sums_[i] >> 16);
    out[4 * i + 3] = static_cast<unsigned char>(sums_[i] >> 24);
  }
}

}  // namespace compatcrypt::digest_core
