// Helpers shared by every test suite: hex, random bytes, temporary files,
// and the one-shot C functions as the reference that streaming, C++ and
// command-line results are compared with.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <ranges>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "compatcrypt.h"

namespace compatcrypt::test {

// Buffers as the C functions take them, and as the C++ interface does.
using Bytes = std::vector<unsigned char>;
using ByteVector = std::vector<std::byte>;

// Contiguous bytes of any one-byte type: Bytes, ByteVector, SecureBytes,
// spans, arrays, strings.
template <typename R>
concept ByteRange = std::ranges::contiguous_range<R> && std::ranges::sized_range<R> &&
                    sizeof(std::ranges::range_value_t<R>) == 1;

// The bytes of such a range as the C functions take them, writable if the
// range is.
template <ByteRange R>
auto *U(R &&bytes) {
  using Byte = std::remove_reference_t<decltype(*std::ranges::data(bytes))>;
  if constexpr (std::is_const_v<Byte>)
    return reinterpret_cast<const unsigned char *>(std::ranges::data(bytes));
  else
    return reinterpret_cast<unsigned char *>(std::ranges::data(bytes));
}

template <ByteRange R>
int32_t Len(const R &bytes) {
  return static_cast<int32_t>(std::ranges::size(bytes));
}

template <ByteRange R>
Bytes ToBytes(const R &bytes) {
  const unsigned char *p = U(bytes);
  return Bytes(p, p + std::ranges::size(bytes));
}

template <ByteRange R>
ByteVector ToByteVector(const R &bytes) {
  const auto *p = reinterpret_cast<const std::byte *>(std::ranges::data(bytes));
  return ByteVector(p, p + std::ranges::size(bytes));
}

inline ByteVector AsByteVector(std::string_view text) { return ToByteVector(text); }

Bytes FromHex(std::string_view hex);
std::string ToHex(const unsigned char *data, std::size_t size);
template <ByteRange R>
std::string ToHex(const R &bytes) {
  return ToHex(U(bytes), std::ranges::size(bytes));
}

// Random bytes, about half of them 0x80 or above.
template <typename Byte = unsigned char>
std::vector<Byte> RandomBytes(std::mt19937_64 &rng, std::size_t size) {
  std::vector<Byte> bytes(size);
  for (auto &b : bytes) b = static_cast<Byte>(rng());
  return bytes;
}

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &path() const { return path_; }
  template <ByteRange R>
  std::filesystem::path Write(const std::string &name, const R &contents) const {
    return WriteBytes(name, U(contents), std::ranges::size(contents));
  }
  std::filesystem::path Write(const std::string &name, std::initializer_list<unsigned char> contents) const {
    return WriteBytes(name, std::data(contents), contents.size());
  }

 private:
  std::filesystem::path WriteBytes(const std::string &name, const unsigned char *data,
                                   std::size_t size) const;
  std::filesystem::path path_;
};

// The C functions, each expected to succeed. The references are header-only
// so that a program that loads the library by path (and so cannot link it)
// can still use the rest of this file.

// EncodeFunction and DecodeFunction under `key`, its whole length passed as
// keyLen.
template <ByteRange D, ByteRange K>
Bytes CEncode(const D &data, const K &key) {
  Bytes out(std::ranges::size(data));
  EXPECT_EQ(EncodeFunction(U(data), Len(data), U(key), Len(key), out.data(), COMPATCRYPT_MODE),
            COMPATCRYPT_OK);
  return out;
}

template <ByteRange D, ByteRange K>
Bytes CDecode(const D &data, const K &key) {
  Bytes out(std::ranges::size(data));
  EXPECT_EQ(DecodeFunction(U(data), Len(data), U(key), Len(key), out.data(), COMPATCRYPT_MODE),
            COMPATCRYPT_OK);
  return out;
}

template <ByteRange D>
Bytes CDigest(const D &data) {
  Bytes out(COMPATCRYPT_DIGEST_BYTES);
  int32_t outLen = 0;
  EXPECT_EQ(MessageDigest(U(data), Len(data), out.data(), &outLen, COMPATCRYPT_MODE), COMPATCRYPT_OK);
  EXPECT_EQ(outLen, COMPATCRYPT_DIGEST_BYTES);
  return out;
}

// FileDigest of the narrow form of `path`, as hosts pass it.
inline Bytes CFileDigest(const std::filesystem::path &path, int32_t offset = 0) {
  const std::string name = path.string();
  Bytes out(COMPATCRYPT_DIGEST_BYTES);
  int32_t outLen = 0;
  EXPECT_EQ(FileDigest(U(name), offset, out.data(), &outLen, COMPATCRYPT_MODE), COMPATCRYPT_OK) << name;
  EXPECT_EQ(outLen, COMPATCRYPT_DIGEST_BYTES);
  return out;
}

// KeyGenerating over exactly the bytes of `password`.
template <ByteRange P>
Bytes CKey(const P &password) {
  Bytes out(COMPATCRYPT_KEY_BYTES);
  int32_t outLen = 0;
  EXPECT_EQ(KeyGenerating(U(password), Len(password), out.data(), &outLen, COMPATCRYPT_MODE), COMPATCRYPT_OK);
  EXPECT_EQ(outLen, COMPATCRYPT_KEY_BYTES);
  return out;
}

// EncodeKey and DecodeKey under the NUL-terminated `password`.
template <ByteRange D>
Bytes CEncodeKey(const std::string &password, const D &data) {
  Bytes out(std::ranges::size(data));
  EXPECT_EQ(EncodeKey(U(password), U(data), Len(data), out.data(), COMPATCRYPT_MODE), COMPATCRYPT_OK);
  return out;
}

template <ByteRange D>
Bytes CDecodeKey(const std::string &password, const D &data) {
  Bytes out(std::ranges::size(data));
  EXPECT_EQ(DecodeKey(U(password), U(data), Len(data), out.data(), COMPATCRYPT_MODE), COMPATCRYPT_OK);
  return out;
}

}  // namespace compatcrypt::test
