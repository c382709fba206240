// Digest tests run once for every engine the machine supports.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "digest/digest_dispatch.h"
#include "support/test_support.h"

namespace compatcrypt::test {

inline std::vector<std::string> DigestEngineNames() {
  std::vector<std::string> names;
  for (const auto &engine : digest_core::AvailableDigestEngines()) names.emplace_back(engine.name);
  return names;
}

// Selects the engine named by the test parameter for the test's duration.
class PerDigestEngine : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(digest_core::UseDigestEngine(GetParam()));
  }
  void TearDown() override { digest_core::UseDigestEngine(""); }
};

inline Bytes DigestOf(const Bytes &data) {
  Bytes out(20);
  int32_t outLen = 0;
  EXPECT_EQ(MessageDigest(data.data(), static_cast<int32_t>(data.size()), out.data(), &outLen, 1), 1);
  EXPECT_EQ(outLen, 20);
  return out;
}

}  // namespace compatcrypt::test

#define COMPATCRYPT_FOR_EVERY_DIGEST_ENGINE(Suite)                                     \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite,                                             \
                           ::testing::ValuesIn(::compatcrypt::test::DigestEngineNames()), \
                           [](const auto &info) { return info.param; })
