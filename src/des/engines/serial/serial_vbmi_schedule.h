// The key schedule of the VBMI serial engines.
#pragma once

#include <cstdint>

#include "des/block/des_schedule.h"

namespace compatcrypt::des::serial {

// schedule of SerialDesEngine (serial_engine.h): each subkey one bit gather
// (VPSHUFBITQMB) of the key word, PC-1, the rotations and PC-2 folded into
// its control.
void VbmiSchedule(uint64_t key, DesSchedule &schedule);

}  // namespace compatcrypt::des::serial
