// CBC over the whole blocks of many independent buffers under one key, in
// one call, each buffer a message of its own (zero IV). Decryption treats
// the whole blocks of all buffers as one run of independent decryptions;
// encryption runs one buffer's chain per lane of a bitsliced pass, so that
// even chains run in parallel across buffers. The bytes after a buffer's
// whole blocks are left alone: the format above (format/batch_codec.h)
// codes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "des/block/des_schedule.h"

namespace compatcrypt::des {

// `out` is `in` (coding in place) or does not overlap any buffer.
struct BatchBuffer {
  const uint8_t *in;
  uint8_t *out;
  std::size_t size;
};

void CbcEncryptBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers);
void CbcDecryptBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers);

}  // namespace compatcrypt::des
