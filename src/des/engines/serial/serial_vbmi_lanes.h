// CBC decryption for the VBMI serial engines: the blocks are independent,
// so they run eight a register, one a 64-bit lane, up to four registers in
// flight, on a round built for throughput rather than for the latency of
// one chain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/block/des_schedule.h"

namespace compatcrypt::des::serial {

// cbcDecrypt of SerialDesEngine (serial_engine.h).
void VbmiLanesCbcDecrypt(const TripleDesSchedule &schedule, uint64_t &chain, const uint8_t *in,
                         std::size_t blocks, uint8_t *out);

}  // namespace compatcrypt::des::serial
