#include "des/modes/triple_des.h"

#include "des/dispatch/des_dispatch.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

void ScheduleTripleDesKeys(const uint8_t *key, TripleDesSchedule &keys) {
  uint8_t outer[8];
  uint8_t middle[8];
  for (int i = 0; i < 8; ++i) {
    outer[i] = key[2 * i];
    middle[i] = key[2 * i + 1];
  }
  const SerialDesEngine &engine = ActiveSerialEngine();
  engine.schedule(ReadDesKey(outer), keys.outer);
  engine.schedule(ReadDesKey(middle), keys.middle);
  SecureWipe(outer);
  SecureWipe(middle);
}

namespace {

// One block through the serial engine's CBC from a zero chain: exactly the
// block's encryption or decryption.
template <bool Decrypt>
uint64_t TripleDesOne(uint64_t block, const TripleDesSchedule &keys) {
  uint8_t bytes[8];
  StoreBlock(block, bytes);
  uint64_t chain = 0;
  const SerialDesEngine &engine = ActiveSerialEngine();
  if (Decrypt)
    engine.cbcDecrypt(keys, chain, bytes, 1, bytes);
  else
    engine.cbcEncrypt(keys, chain, bytes, 1, bytes);
  const uint64_t result = LoadBlock(bytes);
  SecureWipe(bytes);
  return result;
}

}  // namespace

uint64_t TripleDesEncrypt(uint64_t block, const TripleDesSchedule &keys) {
  return TripleDesOne<false>(block, keys);
}

uint64_t TripleDesDecrypt(uint64_t block, const TripleDesSchedule &keys) {
  return TripleDesOne<true>(block, keys);
}

void DesBlock(const unsigned char *key, const unsigned char *input, unsigned char *output, int decrypt) {
  // Both key and input are read before output is written: they may alias.
  const SerialDesEngine &engine = ActiveSerialEngine();
  DesSchedule schedule;
  engine.schedule(ReadDesKey(key), schedule);
  const uint64_t result = engine.crypt(schedule, LoadBlock(input), decrypt != 0);
  StoreBlock(result, output);
  SecureWipe(schedule);
}

}  // namespace compatcrypt::des
