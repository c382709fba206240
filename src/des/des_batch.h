// Many independent buffers coded under one key in one call, each in the
// full encoded-buffer format (codec_stream.h): whole blocks, the tail of a
// last partial block, inputs of 1 to 7 bytes. Decoding treats the whole
// blocks of all buffers as one run of independent decryptions; encoding
// runs one buffer's CBC chain per lane of a bitsliced pass, so that even
// chains run in parallel across buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "des/des_schedule.h"

namespace compatcrypt::des {

// `out` is `in` (coding in place) or does not overlap any buffer.
struct BatchBuffer {
  const uint8_t *in;
  uint8_t *out;
  std::size_t size;
};

void EncodeBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers);
void DecodeBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers);

}  // namespace compatcrypt::des
