// Shared helpers of the C++ interface tests: random bytes and the one-shot
// C functions as the reference every C++ result is compared with.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "compatcrypt.h"
#include "compatcrypt.hpp"

namespace compatcrypt_test {

using Bytes = std::vector<std::byte>;

inline Bytes RandomBytes(std::size_t n, std::mt19937 &rng) {
  Bytes bytes(n);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::byte &b : bytes) b = static_cast<std::byte>(byte(rng));
  return bytes;
}

// The bytes of a container of std::byte as the C functions take them.
template <typename Container>
auto *U(Container &&bytes) {
  using Byte = std::remove_reference_t<decltype(*bytes.data())>;
  if constexpr (std::is_const_v<Byte>)
    return reinterpret_cast<const unsigned char *>(bytes.data());
  else
    return reinterpret_cast<unsigned char *>(bytes.data());
}

inline Bytes CEncode(std::span<const std::byte> data, const compatcrypt::Key &key) {
  Bytes out(data.size());
  EXPECT_EQ(EncodeFunction(U(data), static_cast<int32_t>(data.size()), U(key.bytes()), 16, U(out),
                           COMPATCRYPT_MODE),
            COMPATCRYPT_OK);
  return out;
}

inline Bytes CDecode(std::span<const std::byte> data, const compatcrypt::Key &key) {
  Bytes out(data.size());
  EXPECT_EQ(DecodeFunction(U(data), static_cast<int32_t>(data.size()), U(key.bytes()), 16, U(out),
                           COMPATCRYPT_MODE),
            COMPATCRYPT_OK);
  return out;
}

inline compatcrypt::DigestValue CDigest(std::span<const std::byte> data) {
  compatcrypt::DigestValue out{};
  int32_t outLen = 0;
  EXPECT_EQ(MessageDigest(U(data), static_cast<int32_t>(data.size()), U(out), &outLen, COMPATCRYPT_MODE),
            COMPATCRYPT_OK);
  EXPECT_EQ(outLen, 20);
  return out;
}

inline Bytes AsBytes(std::string_view text) {
  const auto *p = reinterpret_cast<const std::byte *>(text.data());
  return Bytes(p, p + text.size());
}

}  // namespace compatcrypt_test
