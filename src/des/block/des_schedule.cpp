#include "des/block/des_schedule.h"

#include <array>

#include "des/tables/des_tables.h"

namespace compatcrypt::des {

namespace {

// The schedule of one key as the standard computes it: PC1 into C and D,
// rotations, PC2. Run at compile time only, on single-bit keys.
constexpr DesSchedule ScheduleByTables(uint64_t key) {
  uint32_t c = 0;
  uint32_t d = 0;
  for (int i = 0; i < 28; ++i) {
    c |= static_cast<uint32_t>((key >> (64 - kPermutedChoice1[i])) & 1) << (27 - i);
    d |= static_cast<uint32_t>((key >> (64 - kPermutedChoice1[28 + i])) & 1) << (27 - i);
  }
  DesSchedule schedule{};
  for (int r = 0; r < 16; ++r) {
    for (int s = 0; s < kKeyShifts[r]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    const uint64_t cd = (uint64_t{c} << 28) | d;
    uint64_t word = 0;
    for (int i = 0; i < 48; ++i) {
      const uint64_t bit = (cd >> (56 - kPermutedChoice2[i])) & 1;
      // Subkey bit i + 1 enters S-box i / 6 + 1 as its bit i % 6 + 1.
      word |= bit << (56 - 8 * (i / 6) + 5 - i % 6);
    }
    schedule.round[r] = word;
  }
  return schedule;
}

// The 56 key bits that count (every byte's lowest bit is ignored), as
// shifts in the key word, and the schedule each one adds.
struct KeyRows {
  std::array<int, 56> shift;
  std::array<DesSchedule, 56> rows;
};

constexpr KeyRows MakeKeyRows() {
  KeyRows t{};
  for (int n = 0; n < 56; ++n) {
    t.shift[n] = 63 - (n / 7 * 8 + n % 7);
    t.rows[n] = ScheduleByTables(uint64_t{1} << t.shift[n]);
  }
  return t;
}

constexpr KeyRows kKeyRows = MakeKeyRows();

}  // namespace

uint64_t ReadDesKey(const uint8_t *key) {
  // `live` stays all ones up to the first zero byte and is zero from it on;
  // a byte's "non-zero" bit comes from arithmetic, not a comparison.
  uint64_t live = ~uint64_t{0};
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    const uint64_t byte = key[i];
    live &= uint64_t{0} - ((byte + 0xFF) >> 8);
    bits |= (byte & live) << (56 - 8 * i);
  }
  return bits;
}

void DesKeySchedulePortable(uint64_t key, DesSchedule &schedule) {
  // Summed in the caller's schedule itself: no copy of it is left behind.
  for (int r = 0; r < 16; ++r) schedule.round[r] = 0;
  for (int n = 0; n < 56; ++n) {
    const uint64_t mask = uint64_t{0} - ((key >> kKeyRows.shift[n]) & 1);
    for (int r = 0; r < 16; ++r) schedule.round[r] ^= kKeyRows.rows[n].round[r] & mask;
  }
}

}  // namespace compatcrypt::des
