// The 16-byte cipher key of a password. The password (filled to eight bytes
// with the letter 'l' when shorter than seven) is folded to 56 bits: seed
// byte t is the XOR of the low seven bits of every password byte at a
// position k with k mod 8 = t. The seed is encrypted under itself with
// single DES, and that result again under itself; the two results,
// interleaved byte by byte, are the outer (even bytes) and middle (odd
// bytes) keys. No salt and no iteration count.
#pragma once

#include <cstdint>

namespace compatcrypt::keys {

inline constexpr int32_t kDerivedKeySize = 16;

// Writes 16 to *outLen, then the 16 key bytes to `out`. A negative
// `passwordLen` counts as 0.
void DerivePasswordKey(const unsigned char *password, int32_t passwordLen, unsigned char *out,
                       int32_t *outLen);

}  // namespace compatcrypt::keys
