#include "digest/digest_accumulator.h"
#include "digest/digest_constants.h"
#include "digest/digest_drivers.h"

namespace compatcrypt::digest_core {

void DigestBuffer(const unsigned char *data, uint32_t byteCount, unsigned char *out, int32_t *outLen) {
  DigestAccumulator accumulator;
  const std::size_t wholeBlocks = byteCount / kBlockSize;
  accumulator.AddBlocks(data, wholeBlocks);
  const std::size_t tailLen = byteCount % kBlockSize;
  accumulator.Finish(tailLen != 0 ? data + wholeBlocks * kBlockSize : nullptr, tailLen, byteCount, out);
  *outLen = kDigestSize;
}

}  // namespace compatcrypt::digest_core
