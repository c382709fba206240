#include "keys/password_key.h"

#include "des/modes/triple_des.h"
#include "support/secure_wipe.h"

namespace compatcrypt::keys {

namespace {

constexpr uint8_t kFillByte = 0x6C;  // 'l'
// Passwords shorter than this are filled to eight bytes; a seven-byte
// password stays as it is.
constexpr std::size_t kUnfilledLength = 7;

// The fold of the working password into the 8-byte seed key.
void FoldSeed(std::span<const uint8_t> password, uint8_t seed[8]) {
  for (int t = 0; t < 8; ++t) seed[t] = 0;
  if (password.size() >= kUnfilledLength) {
    for (std::size_t k = 0; k < password.size(); ++k) seed[k % 8] ^= password[k] & 0x7F;
    return;
  }
  for (std::size_t k = 0; k < 8; ++k) seed[k] = (k < password.size() ? password[k] : kFillByte) & 0x7F;
}

}  // namespace

void DerivePasswordKey(std::span<const uint8_t> password, std::span<uint8_t, des::kCipherKeyBytes> key) {
  uint8_t seed[8];
  uint8_t first[8];
  uint8_t second[8];
  FoldSeed(password, seed);
  // Each step encrypts a block under itself as a key (read by the key rule,
  // up to its first zero byte), with a schedule of its own.
  des::DesBlock(seed, seed, first, 0);
  des::DesBlock(first, first, second, 0);
  for (int t = 0; t < 8; ++t) {
    key[2 * t] = first[t];
    key[2 * t + 1] = second[t];
  }
  SecureWipe(seed);
  SecureWipe(first);
  SecureWipe(second);
}

}  // namespace compatcrypt::keys
