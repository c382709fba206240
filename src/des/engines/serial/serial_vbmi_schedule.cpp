#include "des/engines/serial/serial_vbmi_schedule.h"

#include <immintrin.h>

#include <array>

#include "des/tables/des_tables.h"
#include "support/declared_instructions.h"

namespace compatcrypt::des::serial {

namespace {

struct Controls {
  // Subkey r's word, bit by bit, from the key word.
  std::array<std::array<uint8_t, 64>, 16> subkey;
  uint64_t used;  // the six low bits of every byte
};

// Key bit k (1-based) of the key word is bit 64 - k. Subkey bit n + 1
// (0-based n) goes to bit 56 - 8 * (n / 6) + 5 - n % 6 of its word.
constexpr Controls MakeControls() {
  Controls c{};
  for (int r = 0; r < 16; ++r) {
    // Where each C and D bit is after the rotations, as PC1 positions.
    int rotated = 0;
    for (int k = 0; k <= r; ++k) rotated += kKeyShifts[k];
    for (int n = 0; n < 48; ++n) {
      const int cd = kPermutedChoice2[n] - 1;  // 0-27 in C, 28-55 in D
      const int half = cd / 28;
      const int from = 28 * half + (cd % 28 + rotated) % 28;
      const int keyBit = kPermutedChoice1[from];
      c.subkey[r][56 - 8 * (n / 6) + 5 - n % 6] = static_cast<uint8_t>(64 - keyBit);
    }
  }
  for (int b = 0; b < 8; ++b) c.used |= uint64_t{0x3F} << (8 * b);
  return c;
}

alignas(64) constexpr Controls kControls = MakeControls();

}  // namespace

void VbmiSchedule(uint64_t key, DesSchedule &schedule) {
  const __m512i w = _mm512_set1_epi64(static_cast<long long>(key));
  for (int r = 0; r < 16; ++r)
    schedule.round[r] =
        declared::BitGather(kControls.used, w, _mm512_loadu_si512(kControls.subkey[r].data()));
}

}  // namespace compatcrypt::des::serial
