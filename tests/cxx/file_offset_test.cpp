// file_digest takes any file offset (64 bits) where FileDigest takes 31
// bits: offsets past 2 and 4 GiB on a sparse file against the OpenSSL model,
// FileDigest's own offsets against FileDigest, and offsets that an offset
// cut to 32 bits would turn into small or negative ones.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "compatcrypt.hpp"
#include "support/sparse_file.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

constexpr int64_t kTwoGiB = int64_t{1} << 31;
constexpr int64_t kFourGiB = int64_t{1} << 32;
constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();

// The digest of no bytes.
constexpr const char *kEmptyHex = "e4e16e2b64e18a6650f05fd3f2ead2aea3582446";

// A sparse file of 4 GiB + 1 MiB + 37 bytes with data at its start (where an
// offset cut to 32 bits would read), before 2 GiB, across 4 GiB, after it
// and at the end: from each offset the model's digest of the rest, tails of
// 100, 64, 57, 1 and 0 bytes among them.
TEST(FileDigestOffset, PastTwoAndFourGiBIsTheModelsDigestOfTheRest) {
  TempDir dir;
  const std::string path = (dir.path() / "sparse.bin").string();
  const int64_t size = kFourGiB + (1 << 20) + 37;
  std::mt19937_64 rng(74);
  const std::vector<Segment> segments = {
      {0, RandomBytes(rng, 4096)},
      {kTwoGiB - 2000, RandomBytes(rng, 4096)},
      {kFourGiB - 1000, RandomBytes(rng, 3000)},
      {kFourGiB + 5000, RandomBytes(rng, 100)},
      {size - 4096, RandomBytes(rng, 4096)},
  };
  const std::string unusable = WriteSparseFile(path, size, segments);
  if (!unusable.empty()) GTEST_SKIP() << unusable;

  for (const int64_t offset :
       {kTwoGiB, kFourGiB - 1, kFourGiB, kFourGiB + 1, kFourGiB + 4999, kFourGiB + 5037, size - 100,
        size - 64, size - 57, size - 1, size, size + 1, int64_t{1} << 40, kLargest}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    EXPECT_EQ(ToHex(file_digest(path, offset)),
              ToHex(ModelOfSparseFile(segments, static_cast<uint64_t>(size), static_cast<uint64_t>(offset))));
  }
  // The largest offsets FileDigest takes: its digest, on a file it reads
  // past 4 GiB (small offsets: api_test.cpp).
  for (const int32_t offset : {static_cast<int32_t>(kTwoGiB - 1500), INT32_MAX}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    EXPECT_EQ(ToBytes(file_digest(path, offset)), CFileDigest(path, offset));
  }
}

// Past the end of a small file every offset digests no bytes, those whose
// low 32 bits are 0, 5 or 63 (or negative) included.
TEST(FileDigestOffset, OffsetsPastTheEndOfASmallFileDigestNoBytes) {
  TempDir dir;
  std::mt19937_64 rng(75);
  const auto path = dir.Write("small.bin", RandomBytes<std::byte>(rng, 200));
  for (const int64_t offset : {kTwoGiB - 1, kTwoGiB, kFourGiB, kFourGiB + 5, kFourGiB + 63,
                               kFourGiB + kTwoGiB, (int64_t{1} << 40) + 1, kLargest}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    EXPECT_EQ(ToHex(file_digest(path, offset)), kEmptyHex);
  }
}

// Negative offsets are refused as FileDigest refuses -1, those whose low 32
// bits would be a valid offset included.
TEST(FileDigestOffset, NegativeOffsetsThrow) {
  TempDir dir;
  const auto path = dir.Write("small.bin", AsByteVector("abc"));
  for (const int64_t offset : {int64_t{-1}, int64_t{INT32_MIN}, -kFourGiB, -kFourGiB + 5, -kTwoGiB - 1,
                               std::numeric_limits<int64_t>::min()}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    try {
      file_digest(path, offset);
      ADD_FAILURE() << "no error";
    } catch (const Error &error) {
      EXPECT_EQ(error.code(), result::failed);
      EXPECT_THAT(error.what(), testing::HasSubstr("negative offset " + std::to_string(offset)));
      EXPECT_THAT(error.what(), testing::HasSubstr(path.string()));
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test
