#include "keys/key_hex.h"

#include "support/secure_wipe.h"

namespace compatcrypt::keys {

namespace {

// The value of a hex digit of either case, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseHexKey(std::string_view hex, std::span<uint8_t, des::kCipherKeyBytes> key, std::size_t *bad) {
  SecureWipe(key.data(), key.size());
  if (hex.size() != kHexKeyChars) {
    if (bad != nullptr) *bad = hex.size();
    return false;
  }
  for (std::size_t i = 0; i < kHexKeyChars; ++i) {
    const int value = HexValue(hex[i]);
    if (value < 0) {
      SecureWipe(key.data(), key.size());
      if (bad != nullptr) *bad = i;
      return false;
    }
    key[i / 2] = static_cast<uint8_t>(key[i / 2] << 4 | value);
  }
  return true;
}

}  // namespace compatcrypt::keys
