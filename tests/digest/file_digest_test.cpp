// FileDigest: the digest of a file from an offset to its end equals the
// digest of the same bytes in memory; files that cannot be opened,
// positioned or read report -2 and leave the outputs untouched.
#include <gtest/gtest.h>

#include <cstdio>

#include "compatcrypt.h"
#include "digest/digest_test_support.h"
#if defined(COMPATCRYPT_TEST_OPENSSL_MODELS)
#include "support/openssl_models.h"
#endif

namespace compatcrypt::test {
namespace {

// The file digest reads through the same stream as MessageDigest, whose
// engines the digest suites cover one by one: these run on the default.
class FileDigestTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

int32_t DigestPath(const std::string &path, int32_t offset, Bytes &out, int32_t &outLen) {
  return FileDigest(reinterpret_cast<const unsigned char *>(path.c_str()), offset, out.data(), &outLen, 1);
}

TEST_F(FileDigestTest, EqualsMessageDigestOfTheBytesFromTheOffset) {
  std::mt19937_64 rng(11);
  const struct {
    std::size_t size;
    int32_t offset;
  } cases[] = {{0, 0},        {0, 5},      {3, 0},          {100, 0},    {100, 37},           {100, 100},
               {100, 250},    {56 + 9, 9}, {57 + 9, 9},     {63 + 1, 1}, {64 + 3, 3},         {64, 0},
               {128 + 56, 0}, {16384, 0},  {16384 + 57, 0}, {16384, 64}, {3 * 16384 + 5, 100}};
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes from " << c.offset);
    const Bytes contents = RandomBytes(rng, c.size);
    const auto path = dir_.Write("data.bin", contents);
    Bytes out(20);
    int32_t outLen = 0;
    ASSERT_EQ(DigestPath(path.string(), c.offset, out, outLen), 1);
    EXPECT_EQ(outLen, 20);
    const std::size_t from = std::min<std::size_t>(c.offset, c.size);
    const Bytes tail(contents.begin() + static_cast<std::ptrdiff_t>(from), contents.end());
    EXPECT_EQ(out, CDigest(tail));
#if defined(COMPATCRYPT_TEST_OPENSSL_MODELS)
    // The independent model too: a fault shared by both exports shows here.
    EXPECT_EQ(ToHex(out), ToHex(ModelDigest(tail)));
#endif
  }
}

// The digest known answers (digest_test_support.h), read from files, whole
// and from an offset past a two-byte prefix.
TEST_F(FileDigestTest, KnownAnswers) {
  for (const DigestKnownAnswer &c : DigestKnownAnswerTable()) {
    SCOPED_TRACE(c.input.size());
    Bytes out(20);
    int32_t outLen = 0;
    ASSERT_EQ(DigestPath(dir_.Write("whole", c.input).string(), 0, out, outLen), 1);
    EXPECT_EQ(ToHex(out), c.digest);
    Bytes prefixed = {0x78, 0x78};
    prefixed.insert(prefixed.end(), c.input.begin(), c.input.end());
    ASSERT_EQ(DigestPath(dir_.Write("prefixed", prefixed).string(), 2, out, outLen), 1);
    EXPECT_EQ(ToHex(out), c.digest);
  }
}

TEST_F(FileDigestTest, FailuresLeaveOutputsUntouched) {
  const auto file = dir_.Write("data.bin", Bytes(100, 0x41));
  const struct {
    const char *what;
    std::string path;
    int32_t offset;
  } cases[] = {
      {"missing file", (dir_.path() / "missing").string(), 0},
      {"directory", dir_.path().string(), 0},
      {"negative offset", file.string(), -1},
      {"most negative offset", file.string(), INT32_MIN},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes out(20, 0xA5);
    int32_t outLen = 1234;
    EXPECT_EQ(DigestPath(c.path, c.offset, out, outLen), -2);
    EXPECT_EQ(out, Bytes(20, 0xA5));
    EXPECT_EQ(outLen, 1234);
  }
}

#if defined(__linux__)
// A stream that reports an error part-way is not a shorter file.
TEST(FileDigestReadErrors, ProcMemReadErrorIsReported) {
  // /proc/self/mem opens but reading from offset 0 (an unmapped page) fails.
  unsigned char out[20] = {};
  int32_t outLen = 7;
  EXPECT_EQ(FileDigest(reinterpret_cast<const unsigned char *>("/proc/self/mem"), 0, out, &outLen, 1), -2);
  EXPECT_EQ(outLen, 7);
}
#endif

}  // namespace
}  // namespace compatcrypt::test
