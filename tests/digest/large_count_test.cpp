// Byte counts that do not fit in 31 or 32 bits: the length word holds the
// count modulo 2^32, and bytes of the count with their top bit set must not
// be sign-extended into their neighbours. Expected digests come from the
// OpenSSL model (tests/support/openssl_models.cpp), fed the same bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "digest_core/digest_stream.h"
#include "support/openssl_models.h"
#include "support/sparse_file.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

// A count of 0x00800080: bytes 1 and 3 of the length word are 0x80, which a
// signed byte read would turn into 0xFF.. borrows from the bytes above.
TEST(LargeCount, MessageDigestWithTopBitsInTheCountBytes) {
  std::mt19937_64 rng(71);
  const Bytes data = RandomBytes(rng, (std::size_t{8} << 20) + 128);
  ASSERT_EQ(data.size(), 0x00800080u);
  EXPECT_EQ(ToHex(CDigest(data)), ToHex(ModelDigest(data)));
  const Bytes zeros(data.size(), 0);
  EXPECT_EQ(ToHex(CDigest(zeros)), ToHex(ModelDigest(zeros)));
}

// The core's stream over 4 GiB and a few bytes (one zero chunk given again
// and again between a head and a tail of data): the count wraps, and the
// sums to 2^32 blocks' worth; a 64-bit count, or one that saturates, gives
// another digest. Head and tail of 100 and 37 bytes (a count of 137), and
// of 64 and none: 4 GiB + 64 bytes fill their last block and leave a count
// of 64, whose closing block comes from the table of short messages'.
struct HeadAndTail {
  std::size_t head;
  std::size_t tail;
};

class LargeCountTail : public testing::TestWithParam<HeadAndTail> {};

TEST_P(LargeCountTail, StreamOverFourGiB) {
  std::mt19937_64 rng(72);
  const Bytes head = RandomBytes(rng, GetParam().head);
  const Bytes tail = RandomBytes(rng, GetParam().tail);
  const Bytes zeros(std::size_t{1} << 20, 0);
  digest_core::DigestStream stream;
  ModelDigestStream model;
  stream.Update(head);
  model.Update(head.data(), head.size());
  for (uint64_t fed = 0; fed < kFourGiB; fed += zeros.size()) stream.Update(zeros);
  model.UpdateZeros(kFourGiB);
  stream.Update(tail);
  model.Update(tail.data(), tail.size());
  Bytes out(20);
  stream.Finish(std::span<uint8_t, 20>(out.data(), 20));
  EXPECT_EQ(ToHex(out), ToHex(model.Finish()));
}

INSTANTIATE_TEST_SUITE_P(Tails, LargeCountTail, testing::Values(HeadAndTail{100, 37}, HeadAndTail{64, 0}));

// FileDigest over more than 4 GiB from offsets that leave tails of 100, 64,
// 57 and 0 bytes (count 0) and from the largest offset: a count kept in 32
// signed bits, or a read loop that stops at 2 or 4 GiB, gives another digest.
TEST(LargeCount, FileDigestOfSparseFileOverFourGiB) {
  TempDir dir;
  const std::string path = (dir.path() / "sparse.bin").string();
  const uint64_t size = kFourGiB + 100;
  std::mt19937_64 rng(73);
  const std::vector<Segment> segments = {
      {0, RandomBytes(rng, 4096)},
      {(uint64_t{1} << 31) - 2000, RandomBytes(rng, 4096)},
      {3 * (uint64_t{1} << 30) + 7, RandomBytes(rng, 3000)},
      {size - 4096, RandomBytes(rng, 4096)},
  };
  // A few KiB of data at a few places, holes elsewhere.
  const std::string unusable = WriteSparseFile(path, size, segments);
  if (!unusable.empty()) GTEST_SKIP() << unusable;
  const int32_t offsets[] = {0, 36, 43, 100, INT32_MAX};
  std::vector<std::future<Bytes>> digests;
  for (int32_t offset : offsets)
    digests.push_back(std::async(std::launch::async, [&path, offset] {
      Bytes out(20, 0xA5);
      int32_t outLen = 0;
      EXPECT_EQ(FileDigest(U(path), offset, out.data(), &outLen, 1), 1) << offset;
      EXPECT_EQ(outLen, 20);
      return out;
    }));
  for (std::size_t i = 0; i < digests.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "offset " << offsets[i]);
    EXPECT_EQ(ToHex(digests[i].get()),
              ToHex(ModelOfSparseFile(segments, size, static_cast<uint64_t>(offsets[i]))));
  }
}

}  // namespace
}  // namespace compatcrypt::test
