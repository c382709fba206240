#include <array>
#include <string>
#include <string_view>

#include "compatcrypt.hpp"
#include "keys/key_hex.h"
#include "keys/password_key.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::inline v1 {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

std::string to_hex(std::span<const std::byte> bytes) {
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const std::byte b : bytes) {
    const auto value = std::to_integer<unsigned>(b);
    hex.push_back(kHexDigits[value >> 4]);
    hex.push_back(kHexDigits[value & 15]);
  }
  return hex;
}

Key::Key(std::span<const std::byte, kKeySize> bytes) noexcept {
  for (std::size_t i = 0; i < kKeySize; ++i) bytes_[i] = bytes[i];
}

Key::~Key() { SecureWipe(bytes_); }

Key Key::from_password(std::string_view password) {
  std::array<uint8_t, kKeySize> derived{};
  RunAndBurn([&] {
    keys::DerivePasswordKey({reinterpret_cast<const uint8_t *>(password.data()), password.size()}, derived);
    return 0;
  });
  const Key key{std::as_bytes(std::span(derived))};
  SecureWipe(derived);
  return key;
}

Key Key::from_hex(std::string_view hex) {
  std::array<uint8_t, kKeySize> parsed{};
  std::size_t bad = 0;
  if (!keys::ParseHexKey(hex, parsed, &bad)) {
    if (bad == hex.size())
      throw Error(result::failed,
                  "key must be 32 hex digits, not " + std::to_string(hex.size()) + " characters");
    throw Error(result::failed,
                "key must be 32 hex digits: non-hex character at position " + std::to_string(bad + 1));
  }
  const Key key{std::as_bytes(std::span(parsed))};
  SecureWipe(parsed);
  return key;
}

std::string Key::to_hex() const { return compatcrypt::to_hex(bytes_); }

}  // namespace compatcrypt::inline v1
