// Two-key triple DES in CBC mode over whole 8-byte blocks: the block
// engines under the encoded-buffer format (codec_stream.h). Encryption is a
// chain and runs on the serial engine; decryption of enough blocks runs on
// a bitsliced engine, since every block is one triple-DES decryption of its
// own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/des_schedule.h"

namespace compatcrypt::des {

// `chain` enters as the cipher block before the first one (zero at the
// start of a message) and leaves as the last cipher block. `out` may equal
// `in`, or trail it by up to 7 bytes: every block is read before its
// output is written.
void CbcEncryptBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out);
void CbcDecryptBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out);

}  // namespace compatcrypt::des
