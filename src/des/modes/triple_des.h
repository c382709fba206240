// The schedules of a cipher key and single operations on one block, run on
// the serial engine the dispatch chose: what the formats and the password
// key need besides CBC.
#pragma once

#include <cstdint>

#include "des/block/block_order.h"
#include "des/block/des_schedule.h"

namespace compatcrypt::des {

// The schedules of a 16-byte cipher key: the even-numbered bytes form the
// outer key, the odd-numbered bytes the middle key, each read by the key
// rule (up to its first zero byte).
void ScheduleTripleDesKeys(const uint8_t *key, TripleDesSchedule &keys);

// Two-key triple DES of one block: encrypt outer, decrypt middle, encrypt
// outer; and its inverse.
uint64_t TripleDesEncrypt(uint64_t block, const TripleDesSchedule &keys);
uint64_t TripleDesDecrypt(uint64_t block, const TripleDesSchedule &keys);

// One DES operation on one 8-byte block under `key` read by the key rule;
// 0 encrypts, any other `decrypt` decrypts. `key`, `input` and `output` may
// be the same memory.
void DesBlock(const unsigned char *key, const unsigned char *input, unsigned char *output, int decrypt);

}  // namespace compatcrypt::des
