#include "keys/password_key.h"

#include "des/des_engine.h"
#include "support/secure_wipe.h"

namespace compatcrypt::keys {

namespace {

constexpr unsigned char kFillByte = 0x6C;  // 'l'
// Passwords shorter than this are filled to eight bytes; a seven-byte
// password stays as it is.
constexpr int32_t kUnfilledLength = 7;

// The fold of the working password into the 8-byte seed key.
void FoldSeed(const unsigned char *password, int32_t passwordLen, unsigned char seed[8]) {
  for (int t = 0; t < 8; ++t) seed[t] = 0;
  if (passwordLen >= kUnfilledLength) {
    for (int32_t k = 0; k < passwordLen; ++k) seed[k % 8] ^= password[k] & 0x7F;
    return;
  }
  const int32_t given = passwordLen > 0 ? passwordLen : 0;
  for (int32_t k = 0; k < 8; ++k) seed[k] = (k < given ? password[k] : kFillByte) & 0x7F;
}

}  // namespace

void DerivePasswordKey(const unsigned char *password, int32_t passwordLen, unsigned char *out,
                       int32_t *outLen) {
  unsigned char seed[8];
  unsigned char first[8];
  unsigned char second[8];
  FoldSeed(password, passwordLen, seed);
  des::DesBlock(seed, seed, first, 0);
  des::DesBlock(first, first, second, 0);
  *outLen = kDerivedKeySize;
  for (int t = 0; t < 8; ++t) {
    out[2 * t] = first[t];
    out[2 * t + 1] = second[t];
  }
  SecureWipe(seed);
  SecureWipe(first);
  SecureWipe(second);
}

}  // namespace compatcrypt::keys
