// Loads the built shared library the way hosts do, by path with dlopen, and
// calls the seven functions by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

using CoderFn = int32_t (*)(const unsigned char *, int32_t, const unsigned char *, int32_t, unsigned char *,
                            uint32_t);
using DigestFn = int32_t (*)(const unsigned char *, int32_t, unsigned char *, int32_t *, uint32_t);
using PasswordFn = int32_t (*)(const unsigned char *, const unsigned char *, int32_t, unsigned char *,
                               uint32_t);

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(COMPATCRYPT_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  template <typename Fn>
  Fn Resolve(const char *name) {
    void *symbol = dlsym(handle_, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Fn>(symbol);
  }
  void *handle_ = nullptr;
};

TEST_F(LoadedLibrary, SevenFunctionsByName) {
  const auto messageDigest = Resolve<DigestFn>("MessageDigest");
  const auto fileDigest = Resolve<DigestFn>("FileDigest");
  const auto keyGenerating = Resolve<DigestFn>("KeyGenerating");
  const auto encodeFunction = Resolve<CoderFn>("EncodeFunction");
  const auto decodeFunction = Resolve<CoderFn>("DecodeFunction");
  const auto encodeKey = Resolve<PasswordFn>("EncodeKey");
  const auto decodeKey = Resolve<PasswordFn>("DecodeKey");
  ASSERT_TRUE(messageDigest && fileDigest && keyGenerating && encodeFunction && decodeFunction && encodeKey &&
              decodeKey);

  unsigned char out[64];
  int32_t outLen = 0;
  ASSERT_EQ(messageDigest(reinterpret_cast<const unsigned char *>("abc"), 3, out, &outLen, 1), 1);
  EXPECT_EQ(ToHex(out, 20), "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c");
  EXPECT_EQ(outLen, 20);

  TempDir dir;
  const std::string path = dir.Write("abc", {0x61, 0x62, 0x63}).string();
  ASSERT_EQ(fileDigest(reinterpret_cast<const unsigned char *>(path.c_str()), 0, out, &outLen, 1), 1);
  EXPECT_EQ(ToHex(out, 20), "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c");

  unsigned char key[16];
  ASSERT_EQ(keyGenerating(reinterpret_cast<const unsigned char *>("password"), 8, key, &outLen, 1), 1);
  EXPECT_EQ(outLen, 16);

  // NIST TECBMMT2 [ENCRYPT] COUNT=0, one block: KEY1 ad192fd064b5579e (outer)
  // and KEY2 7a4fb3c8f794f22a (middle) interleaved byte by byte.
  const Bytes cipherKey = FromHex("ad7a194f2fb3d0c864f7b59457f29e2a");
  const Bytes block = FromHex("13bad542f3652d67");
  unsigned char encoded[8], decoded[8];
  ASSERT_EQ(encodeFunction(block.data(), 8, cipherKey.data(), 16, encoded, 1), 1);
  EXPECT_EQ(ToHex(encoded, 8), "908e543cf2cb254f");
  ASSERT_EQ(decodeFunction(encoded, 8, cipherKey.data(), 16, decoded, 1), 1);
  EXPECT_EQ(ToHex(decoded, 8), "13bad542f3652d67");

  const Bytes plain = FromHex("4e6f77206973207468652074696d6520666f7220");
  const auto *password = reinterpret_cast<const unsigned char *>("password");
  unsigned char viaKey[20], viaPassword[20], back[20];
  ASSERT_EQ(encodeFunction(plain.data(), 20, key, 16, viaKey, 1), 1);
  ASSERT_EQ(encodeKey(password, plain.data(), 20, viaPassword, 1), 1);
  EXPECT_EQ(0, std::memcmp(viaKey, viaPassword, 20));
  ASSERT_EQ(decodeKey(password, viaPassword, 20, back, 1), 1);
  EXPECT_EQ(0, std::memcmp(back, plain.data(), 20));
}

TEST_F(LoadedLibrary, InnerSymbolsAreHidden) {
  for (const char *name : {"DigestBuffer", "DesBlock", "DerivePasswordKey", "TripleDesBlock",
                           "_ZN11compatcrypt6digest12DigestBufferEPKhjPhPi"}) {
    EXPECT_EQ(dlsym(handle_, name), nullptr) << name;
  }
}

}  // namespace
}  // namespace compatcrypt::test
