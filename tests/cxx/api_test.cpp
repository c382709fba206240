// The one-shot interface where it adds to the C functions: file digests with
// their error reporting, the result codes errors carry, and secure_wipe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

#include "compatcrypt.h"
#include "compatcrypt.hpp"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

namespace fs = std::filesystem;

// Error::code() carries the C functions' codes, so a program mixing both
// interfaces compares them directly.
static_assert(result::ok == COMPATCRYPT_OK);
static_assert(result::wrong_mode == COMPATCRYPT_WRONG_MODE);
static_assert(result::failed == COMPATCRYPT_FAILED);
static_assert(result::error == COMPATCRYPT_ERROR);
static_assert(kDigestSize == COMPATCRYPT_DIGEST_BYTES);
static_assert(kKeySize == COMPATCRYPT_KEY_BYTES);

TEST(FileDigestTest, EqualsFileDigestAndDigestOfTheRestAtEveryOffsetKind) {
  TempDir dir;
  std::mt19937_64 rng(11);
  const ByteVector content = RandomBytes<std::byte>(rng, 200);
  const fs::path path = dir.Write("data.bin", content);
  for (const int32_t offset : {0, 1, 63, 64, 143, 199, 200, 201, 100000}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    const Bytes expected = CFileDigest(path, offset);
    EXPECT_EQ(ToBytes(file_digest(path, offset)), expected);
    const std::size_t start = std::min<std::size_t>(static_cast<std::size_t>(offset), content.size());
    EXPECT_EQ(ToBytes(digest(std::span(content).subspan(start))), expected);
  }
}

// Each failure is Error with the C function's code for it (FileDigest's -2),
// naming the file and the cause.
TEST(FileDigestTest, FailuresThrowWithCodeAndFileName) {
  TempDir dir;
  const fs::path present = dir.Write("present.bin", AsByteVector("abc"));
  struct Case {
    const char *what;
    fs::path path;
    int32_t offset;
    const char *cause;
  };
  const Case cases[] = {
      {"missing file", dir.path() / "missing.bin", 0, "No such file or directory"},
      {"directory", dir.path(), 0, "Is a directory"},
      {"negative offset", present, -1, "negative offset"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    unsigned char out[COMPATCRYPT_DIGEST_BYTES];
    int32_t outLen = 0;
    const int32_t code = FileDigest(U(c.path.string()), c.offset, out, &outLen, COMPATCRYPT_MODE);
    try {
      file_digest(c.path, c.offset);
      ADD_FAILURE() << "no error";
    } catch (const Error &error) {
      EXPECT_EQ(error.code(), result::failed);
      EXPECT_EQ(error.code(), code);
      EXPECT_THAT(error.what(), testing::HasSubstr(c.path.string()));
      EXPECT_THAT(error.what(), testing::HasSubstr(c.cause));
    }
  }
}

// The codes of real failures, as a program catching Error sees them.
TEST(ResultCodeTest, FailuresCarryTheirCodes) {
  const Key key = Key::from_hex("00112233445566778899aabbccddeeff");
  const ByteVector nine(9);
  struct Case {
    const char *what;
    void (*call)(const Key &, const ByteVector &);
    int code;
  };
  const Case cases[] = {
      {"malformed hex key", [](const Key &, const ByteVector &) { Key::from_hex("zz"); }, result::failed},
      {"missing file", [](const Key &, const ByteVector &) { file_digest("/nonexistent/compatcrypt/file"); },
       result::failed},
      {"encoder update into an empty span",
       [](const Key &k, const ByteVector &in) {
         Encoder encoder(k);
         encoder.update(in, std::span<std::byte>());
       },
       result::error},
      {"decoder finish into an empty span",
       [](const Key &k, const ByteVector &in) {
         Decoder decoder(k);
         decoder.update(std::span(in).first(3));
         decoder.finish(std::span<std::byte>());
       },
       result::error},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.call(key, nine);
      ADD_FAILURE() << "no error";
    } catch (const Error &error) {
      EXPECT_EQ(error.code(), c.code);
      EXPECT_NE(std::string(error.what()), "");
    }
  }
}

TEST(SecureWipeTest, ZeroesExactlyTheGivenBytes) {
  for (const std::size_t size : {1u, 7u, 8u, 63u, 4096u}) {
    SCOPED_TRACE(size);
    ByteVector buffer(size + 2, std::byte{0xA7});
    secure_wipe(buffer.data() + 1, size);
    EXPECT_EQ(buffer.front(), std::byte{0xA7});
    EXPECT_EQ(buffer.back(), std::byte{0xA7});
    EXPECT_TRUE(
        std::all_of(buffer.begin() + 1, buffer.end() - 1, [](std::byte b) { return b == std::byte{0}; }));
  }
  // Nothing to wipe: the pointer is not used.
  secure_wipe(nullptr, 0);
}

}  // namespace
}  // namespace compatcrypt::test
