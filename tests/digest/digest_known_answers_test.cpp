// Known answers of the digest format and its block transform.
#include <gtest/gtest.h>

#include <algorithm>

#include "compatcrypt.h"
#include "digest/digest_test_support.h"
#include "digest/digest_transform.h"

namespace compatcrypt::test {
namespace {

using digest_core::DigestState;

class DigestKnownAnswers : public PerDigestEngine {};
COMPATCRYPT_FOR_EVERY_DIGEST_ENGINE(DigestKnownAnswers);

struct DigestCase {
  Bytes input;
  const char *digest;
};

// 0x61 is 'a'. The lengths sit on each side of the closing-block rules: a
// tail of up to 56 bytes shares its block with the length word, 57 to 63
// take a second block, and 128 packs its length word as 0xFFFFFF80.
TEST_P(DigestKnownAnswers, MatchesTable) {
  const DigestCase cases[] = {
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
  for (const auto &c : cases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(ToHex(DigestOf(c.input)), c.digest);
  }
}

TEST_P(DigestKnownAnswers, EmptyInputDoesNotReadData) {
  unsigned char out[20];
  int32_t outLen = 0;
  ASSERT_EQ(MessageDigest(nullptr, 0, out, &outLen, 1), 1);
  EXPECT_EQ(ToHex(out, 20), "e4e16e2b64e18a6650f05fd3f2ead2aea3582446");
}

// Whole blocks are summed, not chained: their order does not matter, but
// the tail and the count do.
TEST_P(DigestKnownAnswers, WholeBlocksCommute) {
  std::mt19937_64 rng(7);
  const Bytes data = RandomBytes(rng, 3 * 64 + 17);
  Bytes swapped = data;
  std::swap_ranges(swapped.begin(), swapped.begin() + 64, swapped.begin() + 128);
  ASSERT_NE(data, swapped);
  EXPECT_EQ(DigestOf(data), DigestOf(swapped));
  Bytes tailChanged = data;
  tailChanged.back() ^= 1;
  EXPECT_NE(DigestOf(data), DigestOf(tailChanged));
}

TEST(DigestPacking, SignExtendsBytesOneToThree) {
  const struct {
    unsigned char bytes[4];
    uint32_t word;
  } cases[] = {
      {{0x61, 0x62, 0x63, 0x64}, 0x61626364u}, {{0x80, 0x00, 0x00, 0x00}, 0x80000000u},
      {{0x00, 0x00, 0x00, 0x80}, 0xFFFFFF80u}, {{0x00, 0x00, 0x00, 0xC8}, 0xFFFFFFC8u},
      {{0x00, 0x00, 0x80, 0x00}, 0xFFFF8000u}, {{0x12, 0x80, 0x00, 0x00}, 0x11800000u},
      {{0x7F, 0xFF, 0xFF, 0xFF}, 0x7EFEFEFFu}, {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFEFEFEFFu},
  };
  for (const auto &c : cases) EXPECT_EQ(digest_core::PackSignExtended(c.bytes), c.word) << std::hex << c.word;
}

TEST(DigestTransform, ZeroBlockFromInitialWords) {
  const unsigned char block[64] = {};
  DigestState state{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  digest_core::DigestBlockTransform(block, state);
  EXPECT_EQ(state.a, 0x2B6EE1E4u);
  EXPECT_EQ(state.b, 0x668AE164u);
  EXPECT_EQ(state.c, 0xD35FF050u);
  EXPECT_EQ(state.d, 0xAED2EAF2u);
  EXPECT_EQ(state.e, 0x462458A3u);
}

TEST(DigestTransform, AllFfBlockSchedule) {
  Bytes block(64, 0xFF);
  digest_core::DigestSchedule w;
  digest_core::DigestMessageSchedule(block.data(), w);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(w[i], 0xFEFEFEFFu) << i;
  EXPECT_EQ(w[16], 0u);
}

}  // namespace
}  // namespace compatcrypt::test
