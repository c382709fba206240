// Digest tests run once for every engine the machine supports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "digest_core/digest_dispatch.h"
#include "support/test_support.h"

namespace compatcrypt::test {

inline std::vector<std::string> DigestEngineNames() {
  std::vector<std::string> names;
  for (const auto *engine : digest_core::AvailableDigestEngines()) names.emplace_back(engine->name);
  return names;
}

// Selects the engine named by the test parameter for the test's duration.
class PerDigestEngine : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { ASSERT_TRUE(digest_core::UseDigestEngine(GetParam())); }
  void TearDown() override { digest_core::UseDigestEngine(""); }
};

// Known answers of the digest. The values were computed with the OpenSSL
// model (tests/support/openssl_models.cpp), and DigestModelTables checks
// them against it. 0x61 is 'a'. The lengths sit on each side of the
// closing-block rules: a tail of up to 56 bytes shares its block with the
// length word, 57 to 63 take a second block, and 128 packs its length word
// as 0xFFFFFF80.
struct DigestKnownAnswer {
  Bytes input;
  const char *digest;
};

inline std::vector<DigestKnownAnswer> DigestKnownAnswerTable() {
  return {
      {{}, "e4e16e2b64e18a6650f05fd3f2ead2aea3582446"},
      {{0x61, 0x62, 0x63}, "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c"},
      {Bytes(55, 0x61), "6d1441c82e14111e9a972bfea5965bc2a81d0496"},
      {Bytes(56, 0x61), "cc5dff36df8ee9d2fa4575a49f50d99244f7fe2b"},
      {Bytes(57, 0x61), "25279c29315af41bca1d7b8d836b5738a6badbe6"},
      {Bytes(63, 0x61), "1629480087b8d619e50c933704726a083fd2726d"},
      {Bytes(64, 0x61), "bb893dbee9089de1018d6e42dc526824e92e4145"},
      {Bytes(65, 0x61), "f73592a5b793f85bc047701711e0789c8be0c093"},
      {Bytes(120, 0x61), "bd2bdcadb1e35da406957b37b69b62511f47fc65"},
      {Bytes(128, 0x61), "ce34de7b97f328d597e68006b491d3358082c831"},
      {{0x80, 0xFF, 0x7F}, "cd7588ca161c5efb0419e3431f7d21b41de728da"},
  };
}

// The block transform of the all-zero block from the initial words (no
// feed-forward), A to E; from the OpenSSL model like the table above.
inline constexpr uint32_t kZeroBlockWords[5] = {0x2B6EE1E4u, 0x668AE164u, 0xD35FF050u, 0xAED2EAF2u,
                                                0x462458A3u};

}  // namespace compatcrypt::test

#define COMPATCRYPT_FOR_EVERY_DIGEST_ENGINE(Suite)                                                        \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite, ::testing::ValuesIn(::compatcrypt::test::DigestEngineNames()), \
                           [](const auto &info) { return info.param; })
