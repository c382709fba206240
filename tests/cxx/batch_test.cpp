// Batches through the C++ library: each buffer coded exactly as the C
// functions code it alone, apart and in place, and argument errors that
// leave every output untouched.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compatcrypt.h"
#include "compatcrypt.hpp"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

struct Records {
  Bytes key;
  std::vector<ByteVector> plain;
};

// Sizes from empty through the 1 to 7-byte inputs and tails to a few
// hundred bytes, more buffers than the widest engine has lanes.
Records MakeRecords(uint64_t seed, std::size_t count) {
  std::mt19937_64 rng(seed);
  Records r{RandomBytes(rng, 16), {}};
  std::uniform_int_distribution<std::size_t> size(0, 300);
  for (std::size_t i = 0; i < count; ++i)
    r.plain.push_back(RandomBytes<std::byte>(rng, i < 20 ? i : size(rng)));
  return r;
}

Key KeyOf(const Bytes &bytes) {
  return Key(std::as_bytes(std::span<const unsigned char, 16>(bytes.data(), 16)));
}

template <typename Buffers>
std::vector<std::span<std::byte>> Spans(Buffers &buffers) {
  return {buffers.begin(), buffers.end()};
}

TEST(Batch, EachBufferAsTheCFunctionsCodeIt) {
  const Records r = MakeRecords(41, 700);
  const Key key = KeyOf(r.key);
  std::vector<std::span<const std::byte>> in(r.plain.begin(), r.plain.end());
  std::vector<ByteVector> encoded;
  for (const auto &p : r.plain) encoded.emplace_back(p.size(), std::byte{0xEE});
  encode_batch(key, in, Spans(encoded));
  for (std::size_t i = 0; i < r.plain.size(); ++i)
    ASSERT_EQ(ToBytes(encoded[i]), CEncode(r.plain[i], r.key)) << i;

  std::vector<std::span<const std::byte>> cipher(encoded.begin(), encoded.end());
  std::vector<ByteVector> decoded;
  for (const auto &e : encoded) decoded.emplace_back(e.size(), std::byte{0xEE});
  decode_batch(key, cipher, Spans(decoded));
  EXPECT_EQ(decoded, r.plain);
}

// A table of records moved to a new key in place: decoded under the old key
// and encoded under the new one, as the README shows.
TEST(Batch, InPlaceMigrationToANewKey) {
  const Records r = MakeRecords(42, 600);
  const Bytes newKey = FromHex("00112233445566778899aabbccddeeff");
  std::vector<ByteVector> table;
  for (const auto &p : r.plain) table.push_back(ToByteVector(CEncode(p, r.key)));
  decode_batch(KeyOf(r.key), Spans(table));
  EXPECT_EQ(table, r.plain);
  encode_batch(KeyOf(newKey), Spans(table));
  for (std::size_t i = 0; i < table.size(); ++i)
    ASSERT_EQ(ToBytes(table[i]), CEncode(r.plain[i], newKey)) << i;
}

TEST(Batch, MismatchedCountsAndLengthsThrowWithNothingWritten) {
  const Records r = MakeRecords(43, 10);
  const Key key = KeyOf(r.key);
  std::vector<std::span<const std::byte>> in(r.plain.begin(), r.plain.end());
  std::vector<ByteVector> out;
  for (const auto &p : r.plain) out.emplace_back(p.size(), std::byte{0xEE});
  out[7].push_back(std::byte{0xEE});  // one byte too long
  const std::vector<ByteVector> before = out;
  using Apart = void (*)(const Key &, std::span<const std::span<const std::byte>>,
                         std::span<const std::span<std::byte>>);
  for (Apart code : {static_cast<Apart>(encode_batch), static_cast<Apart>(decode_batch)}) {
    try {
      code(key, in, Spans(out));
      ADD_FAILURE() << "a length mismatch was accepted";
    } catch (const Error &e) {
      EXPECT_EQ(e.code(), result::error);
      EXPECT_NE(std::string(e.what()).find("buffer 7"), std::string::npos) << e.what();
    }
    EXPECT_EQ(out, before);
    auto fewer = Spans(out);
    fewer.pop_back();
    EXPECT_THROW(code(key, in, fewer), Error);
    EXPECT_EQ(out, before);
  }
}

TEST(Batch, EmptyBatchAndEmptyBuffers) {
  const Key key = KeyOf(Bytes(16, 0x5A));
  EXPECT_NO_THROW(encode_batch(key, std::span<const std::span<std::byte>>()));
  std::vector<ByteVector> empties(5);
  EXPECT_NO_THROW(decode_batch(key, Spans(empties)));
  for (const auto &e : empties) EXPECT_TRUE(e.empty());
}

}  // namespace
}  // namespace compatcrypt::test
