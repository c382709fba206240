// Two-key triple DES in CBC mode over whole 8-byte blocks: the block
// engines under the encoded-buffer format (format/codec_stream.h). Encryption is a
// chain and runs on the serial engine; decryption of enough blocks runs on
// a bitsliced engine, since every block is one triple-DES decryption of its
// own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/block/des_schedule.h"

namespace compatcrypt::des {

// `chain` enters as the cipher block before the first one (zero at the
// start of a message) and leaves as the last cipher block, as a
// memory-order word (block_order.h). `out` may equal
// `in`, or trail it by up to 7 bytes: every block is read before its
// output is written.
void CbcEncryptBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out);
void CbcDecryptBlocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                      uint8_t *out);

// The two directions as types, for the format written once over both: the
// run over whole blocks, and where a message's cipher blocks lie (in the
// output when encrypting, in the input when decrypting).
struct CbcEncryption {
  static constexpr bool kCipherInOutput = true;
  static void Blocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                     uint8_t *out) {
    CbcEncryptBlocks(keys, chain, in, blocks, out);
  }
};

struct CbcDecryption {
  static constexpr bool kCipherInOutput = false;
  static void Blocks(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                     uint8_t *out) {
    CbcDecryptBlocks(keys, chain, in, blocks, out);
  }
};

}  // namespace compatcrypt::des
