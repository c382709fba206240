#include "des/format/key_rule.h"

#include <cstdio>

#include "des/block/des_schedule.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

// 0 or 1 from arithmetic, not a comparison: 1 when `byte` is not zero.
uint32_t NonZero(uint8_t byte) { return (static_cast<uint32_t>(byte) + 0xFF) >> 8; }

uint32_t HalfInEffect(std::span<const uint8_t, kCipherKeyBytes> key, std::size_t first) {
  uint32_t live = 1;    // 1 up to the first zero byte
  uint32_t before = 0;  // bytes before the first zero byte
  uint32_t cut = 0;     // 1 once a non-zero byte follows a zero byte
  for (std::size_t i = 0; i < 8; ++i) {
    const uint32_t nonZero = NonZero(key[first + 2 * i]);
    live &= nonZero;
    before += live;
    cut |= (live ^ 1) & nonZero;
  }
  // 8 when not cut, else the bytes before the zero byte.
  const uint32_t mask = 0u - cut;
  return (before & mask) | (8u & ~mask);
}

}  // namespace

KeyInEffect MeasureKey(std::span<const uint8_t, kCipherKeyBytes> key) {
  return {HalfInEffect(key, 0), HalfInEffect(key, 1)};
}

void EffectiveKey(std::span<const uint8_t, kCipherKeyBytes> key, std::span<uint8_t, kCipherKeyBytes> out) {
  uint8_t half[8];
  for (std::size_t first = 0; first < 2; ++first) {
    for (std::size_t i = 0; i < 8; ++i) half[i] = key[first + 2 * i];
    const uint64_t word = ReadDesKey(half);
    for (std::size_t i = 0; i < 8; ++i) out[first + 2 * i] = static_cast<uint8_t>(word >> (56 - 8 * i));
  }
  SecureWipe(half);
}

int KeyWarning(const KeyInEffect &measure, char *buffer, std::size_t size) {
  const bool outerCut = measure.outer < 8;
  const bool middleCut = measure.middle < 8;
  const unsigned total = measure.outer + measure.middle;
  if (outerCut && middleCut)
    return std::snprintf(buffer, size,
                         "a zero byte cuts the outer key to %u of 8 bytes and the middle key to %u of 8; "
                         "%u of 16 key bytes are in effect",
                         measure.outer, measure.middle, total);
  if (outerCut || middleCut)
    return std::snprintf(buffer, size,
                         "a zero byte cuts the %s key to %u of 8 bytes; %u of 16 key bytes are in effect",
                         outerCut ? "outer" : "middle", outerCut ? measure.outer : measure.middle, total);
  return std::snprintf(buffer, size, "%s", "");
}

}  // namespace compatcrypt::des
