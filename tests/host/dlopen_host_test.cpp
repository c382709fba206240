// Loads the built shared library the way hosts do, by path with dlopen, and
// calls the seven functions by name.
#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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

  // The digest of "abc" from the digest known answers (computed with the
  // OpenSSL model; tests/digest/digest_test_support.h).
  unsigned char out[64];
  int32_t outLen = 0;
  ASSERT_EQ(messageDigest(reinterpret_cast<const unsigned char *>("abc"), 3, out, &outLen, 1), 1);
  EXPECT_EQ(ToHex(out, 20), "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c");
  EXPECT_EQ(outLen, 20);

  TempDir dir;
  const std::string path = dir.Write("abc", {0x61, 0x62, 0x63}).string();
  ASSERT_EQ(fileDigest(reinterpret_cast<const unsigned char *>(path.c_str()), 0, out, &outLen, 1), 1);
  EXPECT_EQ(ToHex(out, 20), "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c");

  // The key of "password", computed with the OpenSSL model of the
  // derivation (ModelPasswordKey, tests/support/openssl_models.cpp): a
  // loaded library that derives another key is caught here, not only one
  // that is inconsistent with its own EncodeKey.
  unsigned char key[16];
  ASSERT_EQ(keyGenerating(reinterpret_cast<const unsigned char *>("password"), 8, key, &outLen, 1), 1);
  EXPECT_EQ(outLen, 16);
  EXPECT_EQ(ToHex(key, 16), "943ca023123ce68cde784f461f240e72");

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

// The global symbols the core archive defines in namespace compatcrypt (as
// `nm` lists them; mangled), the library's inner routines.
std::vector<std::string> CoreSymbols() {
  const std::string command =
      std::string("'") + COMPATCRYPT_NM + "' --defined-only -P '" + COMPATCRYPT_CORE_ARCHIVE + "'";
  std::FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::set<std::string> names;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string name, type;
    if (!(fields >> name >> type) || type.size() != 1 ||
        std::string("TDBRWV").find(type) == std::string::npos)
      continue;
    int status = 0;
    char *demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status == 0 && std::string_view(demangled).starts_with("compatcrypt::")) names.insert(name);
    std::free(demangled);
  }
  if (pclose(pipe) != 0) return {};
  return {names.begin(), names.end()};
}

// None of the core's routines can be found in the loaded library: a host
// sees the seven functions only. The names come from the archive the
// library is linked from, so they are the ones a leak would expose.
TEST_F(LoadedLibrary, InnerSymbolsAreHidden) {
  const std::vector<std::string> names = CoreSymbols();
  ASSERT_GE(names.size(), 20u) << "too few names from " << COMPATCRYPT_NM << " on "
                               << COMPATCRYPT_CORE_ARCHIVE;
  for (const char *routine : {"DerivePasswordKey", "DesBlock", "DigestStream", "CodecStream", "BurnStack"})
    EXPECT_TRUE(std::any_of(names.begin(), names.end(),
                            [&](const std::string &name) { return name.find(routine) != std::string::npos; }))
        << routine << " is not among the archive's names";
  for (const std::string &name : names) EXPECT_EQ(dlsym(handle_, name.c_str()), nullptr) << name;
}

}  // namespace
}  // namespace compatcrypt::test
