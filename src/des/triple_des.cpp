#include "des/triple_des.h"

#include "support/secure_wipe.h"

namespace compatcrypt::des {

void ScheduleTripleDesKeys(const uint8_t *key, TripleDesKeys &keys) {
  uint8_t outer[8];
  uint8_t middle[8];
  for (int i = 0; i < 8; ++i) {
    outer[i] = key[2 * i];
    middle[i] = key[2 * i + 1];
  }
  DesKeySchedule(ReadDesKey(outer), keys.outer);
  DesKeySchedule(ReadDesKey(middle), keys.middle);
  SecureWipe(outer);
  SecureWipe(middle);
}

}  // namespace compatcrypt::des
