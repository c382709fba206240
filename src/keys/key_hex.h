// A cipher key written as text: exactly 32 hex digits of either case, the
// first byte first, as the tool's key files and every binding take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "keys/password_key.h"

namespace compatcrypt::keys {

inline constexpr std::size_t kHexKeyChars = 2 * des::kCipherKeyBytes;

// False, with `key` zeroed, unless `hex` is exactly 32 hex digits; then
// `*bad` (if not null) is the position of the first character that is not
// one, or `hex.size()` when the length is wrong.
bool ParseHexKey(std::string_view hex, std::span<uint8_t, des::kCipherKeyBytes> key,
                 std::size_t *bad = nullptr);

}  // namespace compatcrypt::keys
