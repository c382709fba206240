// The streaming Digest, Encoder and Decoder against the one-shot C
// functions, over every length from 0 to 300 (all tail sizes of both block
// sizes, the single- and two-block closings of the digest, the 1..7-byte
// zero-block pad) and a 1 MiB input, cut in many ways.
#include <algorithm>
#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cxx_test_support.h"

namespace {

using compatcrypt::Decoder;
using compatcrypt::Digest;
using compatcrypt::Encoder;
using compatcrypt::Key;
using namespace compatcrypt_test;

// How an input of `length` bytes is cut into update() pieces.
struct Cutting {
  const char *name;
  std::vector<std::size_t> (*pieces)(std::size_t length, std::mt19937 &rng);
};

std::vector<std::size_t> Fixed(std::size_t length, std::size_t size) {
  std::vector<std::size_t> pieces;
  for (std::size_t done = 0; done < length; done += size) pieces.push_back(std::min(size, length - done));
  return pieces;
}

// Random sizes from 0 to `largest`, empty pieces included.
std::vector<std::size_t> Random(std::size_t length, std::mt19937 &rng, std::size_t largest) {
  std::vector<std::size_t> pieces;
  std::uniform_int_distribution<std::size_t> size(0, largest);
  for (std::size_t done = 0; done < length;) {
    const std::size_t piece = std::min(size(rng), length - done);
    pieces.push_back(piece);
    done += piece;
  }
  pieces.push_back(0);
  return pieces;
}

const Cutting kCuttings[] = {
    {"whole", [](std::size_t n, std::mt19937 &) { return std::vector<std::size_t>{n}; }},
    {"bytes", [](std::size_t n, std::mt19937 &) { return Fixed(n, 1); }},
    {"threes", [](std::size_t n, std::mt19937 &) { return Fixed(n, 3); }},
    {"sevens", [](std::size_t n, std::mt19937 &) { return Fixed(n, 7); }},
    {"nines", [](std::size_t n, std::mt19937 &) { return Fixed(n, 9); }},
    {"sixty-threes", [](std::size_t n, std::mt19937 &) { return Fixed(n, 63); }},
    {"sixty-fives", [](std::size_t n, std::mt19937 &) { return Fixed(n, 65); }},
    {"random-small", [](std::size_t n, std::mt19937 &rng) { return Random(n, rng, 10); }},
    {"random-large", [](std::size_t n, std::mt19937 &rng) { return Random(n, rng, 150); }},
    {"empty-first-and-last",
     [](std::size_t n, std::mt19937 &) {
       return std::vector<std::size_t>{0, 0, n, 0};
     }},
};

// Keys of either kind the key rule treats alike: full bytes, and zero bytes
// that end a DES key early (outer key at byte 4, middle key at byte 1).
const Key kKeys[] = {
    Key::from_hex("0123456789abcdeffedcba9876543210"),
    Key::from_hex("8a00d5e3f1007c2b9e4d00aa11223344"),
};

// Feeds `data` in `pieces` and checks that every update() gave out exactly
// the whole blocks received so far (nothing more, nothing held longer).
template <typename Coder>
Bytes Stream(Coder &coder, const Bytes &data, const std::vector<std::size_t> &pieces) {
  Bytes out;
  std::size_t fed = 0;
  for (const std::size_t piece : pieces) {
    const Bytes part = coder.update(std::span(data).subspan(fed, piece));
    fed += piece;
    out.insert(out.end(), part.begin(), part.end());
    EXPECT_EQ(out.size(), fed / 8 * 8) << "after " << fed << " bytes";
  }
  EXPECT_EQ(fed, data.size());
  const Bytes tail = coder.finish();
  EXPECT_EQ(tail.size(), data.size() % 8);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

compatcrypt::DigestValue StreamDigest(Digest &digest, const Bytes &data,
                                      const std::vector<std::size_t> &pieces) {
  std::size_t fed = 0;
  for (const std::size_t piece : pieces) {
    digest.update(std::span(data).subspan(fed, piece));
    fed += piece;
  }
  EXPECT_EQ(fed, data.size());
  return digest.finish();
}

class StreamingTest : public testing::TestWithParam<Cutting> {};

TEST_P(StreamingTest, MatchesOneShotForLengthsUpTo300) {
  std::mt19937 rng(20240601);
  for (std::size_t length = 0; length <= 300; ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    const Bytes plain = RandomBytes(length, rng);
    const std::vector<std::size_t> pieces = GetParam().pieces(length, rng);

    Digest digest;
    EXPECT_EQ(StreamDigest(digest, plain, pieces), CDigest(plain));
    EXPECT_EQ(compatcrypt::digest(plain), CDigest(plain));

    for (const Key &key : kKeys) {
      SCOPED_TRACE("key " + key.to_hex());
      const Bytes cipher = CEncode(plain, key);
      Encoder encoder(key);
      EXPECT_EQ(Stream(encoder, plain, pieces), cipher);
      EXPECT_EQ(compatcrypt::encode(plain, key), cipher);

      Decoder decoder(key);
      EXPECT_EQ(Stream(decoder, cipher, pieces), plain);
      EXPECT_EQ(compatcrypt::decode(cipher, key), plain);
      // Decoding bytes that no encoder produced still follows the C function.
      Decoder other(key);
      EXPECT_EQ(Stream(other, plain, pieces), CDecode(plain, key));
    }
  }
}

TEST_P(StreamingTest, MatchesOneShotForOneMebibyte) {
  std::mt19937 rng(77);
  const Bytes plain = RandomBytes((1u << 20) + 13, rng);
  const std::vector<std::size_t> pieces = GetParam().pieces(plain.size(), rng);
  const Key &key = kKeys[0];

  Digest digest;
  EXPECT_EQ(StreamDigest(digest, plain, pieces), CDigest(plain));
  const Bytes cipher = CEncode(plain, key);
  Encoder encoder(key);
  EXPECT_EQ(Stream(encoder, plain, pieces), cipher);
  Decoder decoder(key);
  EXPECT_EQ(Stream(decoder, cipher, pieces), plain);
}

INSTANTIATE_TEST_SUITE_P(Cuttings, StreamingTest, testing::ValuesIn(kCuttings),
                         [](const testing::TestParamInfo<Cutting> &info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// finish() starts a new message: the second one must not inherit the chain,
// the first cipher block or held-back bytes of the first.
TEST(StreamingReuseTest, FinishStartsANewMessage) {
  std::mt19937 rng(5);
  const Key &key = kKeys[0];
  for (const auto &[first, second] : {std::pair<std::size_t, std::size_t>{21, 5}, {16, 19}, {3, 0}, {0, 8}}) {
    SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
    const Bytes a = RandomBytes(first, rng);
    const Bytes b = RandomBytes(second, rng);
    Digest digest;
    Encoder encoder(key);
    Decoder decoder(key);
    Stream(encoder, a, {a.size()});
    Stream(decoder, a, {a.size()});
    digest.update(a).finish();
    EXPECT_EQ(Stream(encoder, b, {b.size()}), CEncode(b, key));
    EXPECT_EQ(Stream(decoder, b, {b.size()}), CDecode(b, key));
    EXPECT_EQ(digest.update(b).finish(), CDigest(b));
  }
}

TEST(StreamingMoveTest, MovedToObjectContinuesAndMovedFromThrows) {
  std::mt19937 rng(9);
  const Bytes plain = RandomBytes(45, rng);
  const Key &key = kKeys[1];

  Encoder encoder(key);
  Bytes out = encoder.update(std::span(plain).first(13));
  Encoder moved = std::move(encoder);
  const Bytes rest = moved.update(std::span(plain).subspan(13));
  const Bytes tail = moved.finish();
  out.insert(out.end(), rest.begin(), rest.end());
  out.insert(out.end(), tail.begin(), tail.end());
  EXPECT_EQ(out, CEncode(plain, key));

  Digest digest;
  digest.update(std::span(plain).first(30));
  Digest movedDigest = std::move(digest);
  EXPECT_EQ(movedDigest.update(std::span(plain).subspan(30)).finish(), CDigest(plain));

  Decoder decoder(key);
  Decoder movedDecoder = std::move(decoder);
  for (const auto &use : std::vector<std::function<void()>>{
           [&] { encoder.update(plain); }, [&] { encoder.finish(); }, [&] { decoder.update(plain); },
           [&] { decoder.finish(); }, [&] { digest.update(plain); }, [&] { digest.finish(); }}) {
    try {
      use();
      ADD_FAILURE() << "a moved-from object was used without an error";
    } catch (const compatcrypt::Error &error) {
      EXPECT_EQ(error.code(), COMPATCRYPT_ERROR);
    }
  }
}

}  // namespace
