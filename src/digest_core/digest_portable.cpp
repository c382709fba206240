#include "digest_core/digest_engine.h"
#include "digest_core/digest_transform.h"
#include "support/taint_check.h"

namespace compatcrypt::digest_core {

void DigestBlocksPortable(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  for (std::size_t i = 0; i < count; ++i) {
    DigestState state{kInitialWords[0], kInitialWords[1], kInitialWords[2], kInitialWords[3],
                      kInitialWords[4]};
    DigestBlockTransform(blocks + i * kBlockSize, state);
    taint::Control(state.a);
    sums[0] += state.a;
    sums[1] += state.b;
    sums[2] += state.c;
    sums[3] += state.d;
    sums[4] += state.e;
  }
}

}  // namespace compatcrypt::digest_core
