// The zero-byte rule as a front end reports it. Each half of a cipher key
// (the outer DES key of the even-numbered bytes, the middle key of the
// odd-numbered ones) is read up to its first zero byte (ReadDesKey); the
// bytes after it count as zero. A half is cut when that drops a non-zero
// byte: the key then codes exactly as a shorter one, and whoever chose it
// should be told. Measured with masks, as the rule itself is applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "des/format/codec_stream.h"

namespace compatcrypt::des {

struct KeyInEffect {
  uint32_t outer = 8;  // bytes of the outer key in effect: 8 unless cut
  uint32_t middle = 8;
  bool Cut() const { return outer + middle < 16; }
};

KeyInEffect MeasureKey(std::span<const uint8_t, kCipherKeyBytes> key);

// The key as the cipher uses it: in each half, the bytes from the first
// zero byte on are zero.
void EffectiveKey(std::span<const uint8_t, kCipherKeyBytes> key, std::span<uint8_t, kCipherKeyBytes> out);

// The warning for a cut key, one line without a prefix (empty when no half
// is cut): "a zero byte cuts the outer key to 3 of 8 bytes; 11 of 16 key
// bytes are in effect". Writes at most `size` bytes, NUL included, as
// snprintf does, and returns the message's length.
int KeyWarning(const KeyInEffect &measure, char *buffer, std::size_t size);

}  // namespace compatcrypt::des
