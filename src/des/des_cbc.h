// Two-key triple DES in CBC mode over whole 8-byte blocks: the block
// engines under the encoded-buffer format (codec_stream.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/triple_des.h"

namespace compatcrypt::des {

// `chain` enters as the cipher block before the first one (zero at the
// start of a message) and leaves as the last cipher block. `out` may be
// `in`: every block is read before it is written.
void CbcEncryptBlocks(const TripleDesKeys &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out);
void CbcDecryptBlocks(const TripleDesKeys &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out);

}  // namespace compatcrypt::des
