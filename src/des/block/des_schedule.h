// DES key schedules in the one form every engine starts from, and the key
// rule, both in constant time: no key bit chooses a branch or an address.
#pragma once

#include <cstdint>

namespace compatcrypt::des {

// Subkey r + 1 (r = 0..15) of a DES key as the eight bytes of a word: byte
// b, counted from the most significant, holds the six key bits that enter
// S-box b + 1 in its low six bits, the first of them in bit 5.
struct DesSchedule {
  alignas(16) uint64_t round[16];
};

// The schedules of a 16-byte cipher key: the even-numbered bytes form the
// outer key, the odd-numbered bytes the middle key.
struct TripleDesSchedule {
  DesSchedule outer;
  DesSchedule middle;
};

// The key rule: a DES key is read up to its first zero byte, at most eight
// bytes; the zero byte and every bit after it count as zero. Returns the
// key as a big-endian word (first byte most significant).
uint64_t ReadDesKey(const uint8_t *key);

// The schedule by the portable engine: the schedule is linear in the key
// bits, so it is the XOR of one constant row per key bit, each masked by
// its bit rather than chosen by it.
void DesKeySchedulePortable(uint64_t key, DesSchedule &schedule);

}  // namespace compatcrypt::des
