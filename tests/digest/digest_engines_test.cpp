// Every engine against the portable one, on runs of every length up to a
// few widths of the widest engine, at every alignment, and added into sums
// that are already far from zero. Each engine runs alone, so that a wide
// engine's own partly filled last pass is covered at every fill, with one
// group or two in flight; the default route (short rests sent to SHA-NI)
// runs as one more engine.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "digest/digest_test_support.h"
#include "digest_core/digest_dispatch.h"
#if COMPATCRYPT_TEST_OPENSSL_MODELS
#include "support/openssl_models.h"
#endif

namespace compatcrypt::test {
namespace {

using digest_core::DigestBlocksFunction;
using DigestSums = std::array<uint32_t, 5>;

// Three whole passes of the widest engine (two groups of sixteen) and then
// some, so that every rest after one, two and three passes is covered.
constexpr std::size_t kMaxBlocks = 100;

// A run of `count` blocks at `offset` bytes into a buffer that ends where
// the run ends, so that a read past the last block leaves the allocation.
struct BlockRun {
  std::vector<unsigned char> storage;
  std::size_t offset;
  const unsigned char *blocks() const { return storage.data() + offset; }
};

BlockRun MakeRun(std::mt19937_64 &rng, std::size_t count, std::size_t offset) {
  BlockRun run{Bytes(offset), offset};
  const Bytes body = RandomBytes(rng, 64 * count);
  run.storage.insert(run.storage.end(), body.begin(), body.end());
  return run;
}

DigestSums PortableSums(const unsigned char *blocks, std::size_t count, DigestSums start) {
  digest_core::DigestBlocksPortable(blocks, count, start.data());
  return start;
}

// Starting sums: zero, and near the top so that every word wraps.
const DigestSums kStarts[] = {
    {0, 0, 0, 0, 0},
    {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, 0xFFFFFF00u, 0xDEADBEEFu},
};

struct Named {
  std::string name;
  DigestBlocksFunction blocks;
};

// Every engine the CPU runs, each alone, then the default route.
std::vector<Named> EnginesUnderTest() {
  std::vector<Named> engines;
  for (const auto *engine : digest_core::AvailableDigestEngines())
    engines.push_back({engine->name, engine->blocks});
  engines.push_back({"default route", digest_core::DigestBlocks});
  return engines;
}

TEST(DigestEngines, MatchPortableOnEveryRunLengthAndAlignment) {
  const std::vector<Named> engines = EnginesUnderTest();
  ASSERT_FALSE(engines.empty());
  std::mt19937_64 rng(11);
  for (std::size_t count = 0; count <= kMaxBlocks; ++count) {
    for (std::size_t offset = 0; offset < 8; ++offset) {
      const BlockRun run = MakeRun(rng, count, offset);
      for (const DigestSums &start : kStarts) {
        const DigestSums expected = PortableSums(run.blocks(), count, start);
        for (const Named &engine : engines) {
          DigestSums sums = start;
          engine.blocks(run.blocks(), count, sums.data());
          ASSERT_EQ(sums, expected) << engine.name << ": " << count << " blocks at offset " << offset;
        }
      }
    }
  }
}

// Random lengths in random order, so that state from a long run cannot
// hide a fault in the short run after it.
TEST(DigestEngines, MatchPortableOnRandomRuns) {
  const std::vector<Named> engines = EnginesUnderTest();
  std::mt19937_64 rng(12);
  std::uniform_int_distribution<std::size_t> length(0, kMaxBlocks), alignment(1, 7);
  for (int i = 0; i < 300; ++i) {
    const std::size_t count = length(rng), offset = alignment(rng);
    const BlockRun run = MakeRun(rng, count, offset);
    const DigestSums expected = PortableSums(run.blocks(), count, kStarts[1]);
    for (const Named &engine : engines) {
      DigestSums sums = kStarts[1];
      engine.blocks(run.blocks(), count, sums.data());
      ASSERT_EQ(sums, expected) << engine.name << ": " << count << " blocks at offset " << offset;
    }
  }
}

// Bytes chosen where the sign-extended packing differs from a plain byte
// swap (0x80 and above in each position) and where it does not; one block
// repeated so that every lane of a wide engine sees it, against the model
// (where the build has no OpenSSL, against the portable engine's words).
TEST(DigestEngines, PackingEdgeBlocksMatchModel) {
  const unsigned char fills[][4] = {
      {0x00, 0x00, 0x00, 0x00}, {0x80, 0x80, 0x80, 0x80}, {0xFF, 0xFF, 0xFF, 0xFF},
      {0x7F, 0x7F, 0x7F, 0x7F}, {0x00, 0x80, 0x00, 0x80}, {0x01, 0xFF, 0x80, 0x7F},
  };
  for (const auto &fill : fills) {
    unsigned char block[64];
    for (int i = 0; i < 64; ++i) block[i] = fill[i % 4];
    uint32_t model[5];
#if COMPATCRYPT_TEST_OPENSSL_MODELS
    ModelBlockWords(block, model);
#else
    model[0] = model[1] = model[2] = model[3] = model[4] = 0;
    digest_core::DigestBlocksPortable(block, 1, model);
#endif
    for (std::size_t count : {1u, 4u, 8u, 16u, 21u, 32u, 37u}) {
      Bytes run;
      for (std::size_t b = 0; b < count; ++b) run.insert(run.end(), block, block + 64);
      DigestSums expected{};
      for (int w = 0; w < 5; ++w) expected[w] = static_cast<uint32_t>(model[w] * count);
      for (const Named &engine : EnginesUnderTest()) {
        DigestSums sums{};
        engine.blocks(run.data(), count, sums.data());
        EXPECT_EQ(sums, expected) << engine.name << ": fill " << int{fill[1]} << ", " << count << " blocks";
      }
    }
  }
}

TEST(DigestEngines, ZeroBlocksLeaveSumsAlone) {
  for (const Named &engine : EnginesUnderTest()) {
    for (const DigestSums &start : kStarts) {
      DigestSums sums = start;
      engine.blocks(nullptr, 0, sums.data());
      EXPECT_EQ(sums, start) << engine.name;
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test
