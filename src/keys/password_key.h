// The 16-byte cipher key of a password. The password (filled to eight bytes
// with the letter 'l' when shorter than seven) is folded to 56 bits: seed
// byte t is the XOR of the low seven bits of every password byte at a
// position k with k mod 8 = t. The seed is encrypted under itself with
// single DES, and that result again under itself; the two results,
// interleaved byte by byte, are the outer (even bytes) and middle (odd
// bytes) keys. No salt and no iteration count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "des/format/codec_stream.h"

namespace compatcrypt::keys {

// Every byte value counts, zero bytes included.
void DerivePasswordKey(std::span<const uint8_t> password, std::span<uint8_t, des::kCipherKeyBytes> key);

}  // namespace compatcrypt::keys
