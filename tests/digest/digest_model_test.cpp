// The digest against an independent model built on OpenSSL's SHA-1
// compression, over random lengths and bytes (half of them 0x80 or above,
// where the sign-extended packing differs from SHA-1's).
#include <gtest/gtest.h>

#include <array>

#include "compatcrypt.h"
#include "digest/digest_test_support.h"
#include "digest_core/digest_dispatch.h"
#include "digest_core/digest_stream.h"
#include "digest_core/digest_transform.h"
#include "support/openssl_models.h"

namespace compatcrypt::test {
namespace {

// The known-answer tables are the model's values: a fault in the model or
// a mistyped value shows here, apart from the library.
TEST(DigestModelTables, KnownAnswersAreTheModelsDigests) {
  for (const DigestKnownAnswer &c : DigestKnownAnswerTable())
    EXPECT_EQ(ToHex(ModelDigest(c.input)), c.digest) << c.input.size() << " bytes";
  const unsigned char zero[64] = {};
  uint32_t words[5];
  ModelBlockWords(zero, words);
  for (int w = 0; w < 5; ++w) EXPECT_EQ(words[w], kZeroBlockWords[w]) << "word " << w;
}

class DigestModel : public PerDigestEngine {};
COMPATCRYPT_FOR_EVERY_DIGEST_ENGINE(DigestModel);

TEST_P(DigestModel, BlockTransformMatchesModel) {
  std::mt19937_64 rng(1);
  for (int i = 0; i < 200; ++i) {
    const Bytes block = RandomBytes(rng, 64);
    std::array<uint32_t, 5> sums{};
    digest_core::DigestBlocks(block.data(), 1, sums.data());
    uint32_t model[5];
    ModelBlockWords(block.data(), model);
    for (int w = 0; w < 5; ++w) ASSERT_EQ(sums[w], model[w]) << "block " << i << " word " << w;
  }
}

// Runs of blocks of every count up to a few SIMD widths, as one call.
TEST_P(DigestModel, BlockRunsMatchModel) {
  std::mt19937_64 rng(2);
  for (std::size_t count = 1; count <= 33; ++count) {
    const Bytes blocks = RandomBytes(rng, 64 * count);
    std::array<uint32_t, 5> sums{};
    digest_core::DigestBlocks(blocks.data(), count, sums.data());
    std::array<uint32_t, 5> model{};
    for (std::size_t b = 0; b < count; ++b) {
      uint32_t words[5];
      ModelBlockWords(blocks.data() + 64 * b, words);
      for (int w = 0; w < 5; ++w) model[w] += words[w];
    }
    ASSERT_EQ(sums, model) << count << " blocks";
  }
}

TEST_P(DigestModel, SmallLengths) {
  std::mt19937_64 rng(3);
  for (std::size_t n = 0; n <= 400; ++n) {
    const Bytes data = RandomBytes(rng, n);
    ASSERT_EQ(ToHex(CDigest(data)), ToHex(ModelDigest(data))) << n << " bytes";
  }
}

// Messages of whole blocks close with a block of zeros and the count, whose
// words come from a table up to 64 blocks: every entry, and the first
// counts past it, through the one-shot call and the stream cut mid-block.
TEST_P(DigestModel, WholeBlocksThroughAndPastTheClosingTable) {
  std::mt19937_64 rng(6);
  for (std::size_t blocks = 1; blocks <= 70; ++blocks) {
    const Bytes data = RandomBytes(rng, 64 * blocks);
    const Bytes expected = ModelDigest(data);
    ASSERT_EQ(ToHex(CDigest(data)), ToHex(expected)) << blocks << " blocks";
    digest_core::DigestStream stream;
    const std::size_t cut = rng() % data.size();
    stream.Update({data.data(), cut});
    stream.Update({data.data() + cut, data.size() - cut});
    Bytes out(20);
    stream.Finish(std::span<uint8_t, 20>(out.data(), 20));
    ASSERT_EQ(ToHex(out), ToHex(expected)) << blocks << " blocks, cut at " << cut;
  }
}

TEST_P(DigestModel, LengthsNear64KiB) {
  std::mt19937_64 rng(4);
  for (std::size_t n : {65472u, 65535u, 65536u, 65537u, 65593u}) {
    const Bytes data = RandomBytes(rng, n);
    ASSERT_EQ(ToHex(CDigest(data)), ToHex(ModelDigest(data))) << n << " bytes";
  }
}

TEST_P(DigestModel, SeveralMebibytes) {
  std::mt19937_64 rng(5);
  const Bytes data = RandomBytes(rng, 5 * 1024 * 1024 + 61);
  EXPECT_EQ(ToHex(CDigest(data)), ToHex(ModelDigest(data)));
}

}  // namespace
}  // namespace compatcrypt::test
