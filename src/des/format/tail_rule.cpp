#include "des/format/tail_rule.h"

#include "des/modes/des_cbc.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

TailCoder::~TailCoder() { SecureWipe(zeroPad_); }

void TailCoder::Code(const uint8_t *in, std::size_t size, const uint8_t *firstCipher, uint8_t *out) {
  if (size == 0) return;
  const uint8_t *pad = firstCipher;
  if (pad == nullptr) {
    if (!haveZeroPad_) {
      // One block of CBC from a zero chain is the block's encryption.
      uint64_t chain = 0;
      CbcEncryptBlocks(keys_, chain, zeroPad_, 1, zeroPad_);
      haveZeroPad_ = true;
    }
    pad = zeroPad_;
  }
  for (std::size_t k = 0; k < size; ++k) out[k] = static_cast<uint8_t>(in[k] ^ pad[k]);
}

}  // namespace compatcrypt::des
