#include "des/engines/bitslice_engine.h"

namespace compatcrypt::des {

void PrepareBitsliceKeys(const TripleDesSchedule &schedule, BitsliceKeys &keys) {
  const DesSchedule *parts[2] = {&schedule.outer, &schedule.middle};
  for (int k = 0; k < 2; ++k) {
    for (int r = 0; r < 16; ++r) {
      const uint64_t word = parts[k]->round[r];
      for (int b = 0; b < 8; ++b)
        for (int j = 0; j < 6; ++j)
          keys.mask[k][r][6 * b + j] = 0u - static_cast<uint32_t>((word >> (8 * (7 - b) + 5 - j)) & 1);
    }
  }
}

}  // namespace compatcrypt::des
