// Known answers of the digest format and its block transform.
#include <gtest/gtest.h>

#include <algorithm>

#include "compatcrypt.h"
#include "digest/digest_test_support.h"
#include "digest_core/digest_transform.h"

namespace compatcrypt::test {
namespace {

using digest_core::DigestState;

class DigestKnownAnswers : public PerDigestEngine {};
COMPATCRYPT_FOR_EVERY_DIGEST_ENGINE(DigestKnownAnswers);

TEST_P(DigestKnownAnswers, MatchesTable) {
  for (const DigestKnownAnswer &c : DigestKnownAnswerTable()) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(ToHex(CDigest(c.input)), c.digest);
  }
}

TEST_P(DigestKnownAnswers, EmptyInputDoesNotReadData) {
  unsigned char out[20];
  int32_t outLen = 0;
  ASSERT_EQ(MessageDigest(nullptr, 0, out, &outLen, 1), 1);
  EXPECT_EQ(ToHex(out, 20), DigestKnownAnswerTable().front().digest);
}

// Whole blocks are summed, not chained: their order does not matter, but
// the tail and the count do.
TEST_P(DigestKnownAnswers, WholeBlocksCommute) {
  std::mt19937_64 rng(7);
  const Bytes data = RandomBytes(rng, 3 * 64 + 17);
  Bytes swapped = data;
  std::swap_ranges(swapped.begin(), swapped.begin() + 64, swapped.begin() + 128);
  ASSERT_NE(data, swapped);
  EXPECT_EQ(CDigest(data), CDigest(swapped));
  Bytes tailChanged = data;
  tailChanged.back() ^= 1;
  EXPECT_NE(CDigest(data), CDigest(tailChanged));
}

// Worked out by hand from the packing rule: the big-endian word, minus one
// unit of the next higher byte for each of bytes 1 to 3 that is 0x80 or
// more (each byte is sign-extended and added).
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

// The initial words are FIPS 180-1's H0 to H4.
TEST(DigestTransform, ZeroBlockFromInitialWords) {
  const unsigned char block[64] = {};
  DigestState state{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  digest_core::DigestBlockTransform(block, state);
  EXPECT_EQ(state.a, kZeroBlockWords[0]);
  EXPECT_EQ(state.b, kZeroBlockWords[1]);
  EXPECT_EQ(state.c, kZeroBlockWords[2]);
  EXPECT_EQ(state.d, kZeroBlockWords[3]);
  EXPECT_EQ(state.e, kZeroBlockWords[4]);
}

// By hand: every byte 0xFF packs to 0xFEFEFEFF, and word 16 is the rotation
// of w13 ^ w8 ^ w2 ^ w0, four equal words, so zero.
TEST(DigestTransform, AllFfBlockSchedule) {
  Bytes block(64, 0xFF);
  digest_core::DigestSchedule w;
  digest_core::DigestMessageSchedule(block.data(), w);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(w[i], 0xFEFEFEFFu) << i;
  EXPECT_EQ(w[16], 0u);
}

}  // namespace
}  // namespace compatcrypt::test
