// Many independent buffers coded under one key in one call, each in the
// full encoded-buffer format (codec_stream.h): whole blocks by CBC across
// all buffers at once (modes/cbc_batch.h), then each buffer's tail by the
// tail rule (tail_rule.h).
#pragma once

#include <span>

#include "des/block/des_schedule.h"
#include "des/modes/cbc_batch.h"

namespace compatcrypt::des {

void EncodeBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers);
void DecodeBatch(const TripleDesSchedule &keys, std::span<const BatchBuffer> buffers);

}  // namespace compatcrypt::des
