// The streaming Digest, Encoder and Decoder against the one-shot C
// functions: every length from 0 to 300 (all tail sizes of both block
// sizes, the single- and two-block closings of the digest, the 1..7-byte
// zero-block pad) and a 1 MiB input, cut in many ways; both forms of
// update() and finish(), coding in place, and copies that carry on on their
// own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "compatcrypt.hpp"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

// How an input of `length` bytes is cut into update() pieces.
struct Cutting {
  const char *name;
  std::vector<std::size_t> (*pieces)(std::size_t length, std::mt19937_64 &rng);
};

std::vector<std::size_t> Fixed(std::size_t length, std::size_t size) {
  std::vector<std::size_t> pieces;
  for (std::size_t done = 0; done < length; done += size) pieces.push_back(std::min(size, length - done));
  return pieces;
}

// Random sizes from 0 to `largest`, empty pieces included.
std::vector<std::size_t> Random(std::size_t length, std::mt19937_64 &rng, std::size_t largest) {
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
    {"whole", [](std::size_t n, std::mt19937_64 &) { return std::vector<std::size_t>{n}; }},
    {"bytes", [](std::size_t n, std::mt19937_64 &) { return Fixed(n, 1); }},
    {"threes", [](std::size_t n, std::mt19937_64 &) { return Fixed(n, 3); }},
    {"sevens", [](std::size_t n, std::mt19937_64 &) { return Fixed(n, 7); }},
    {"nines", [](std::size_t n, std::mt19937_64 &) { return Fixed(n, 9); }},
    {"sixty-threes", [](std::size_t n, std::mt19937_64 &) { return Fixed(n, 63); }},
    {"sixty-fives", [](std::size_t n, std::mt19937_64 &) { return Fixed(n, 65); }},
    {"random-small", [](std::size_t n, std::mt19937_64 &rng) { return Random(n, rng, 10); }},
    {"random-large", [](std::size_t n, std::mt19937_64 &rng) { return Random(n, rng, 150); }},
    {"empty-first-and-last",
     [](std::size_t n, std::mt19937_64 &) {
       return std::vector<std::size_t>{0, 0, n, 0};
     }},
};

// Keys of either kind the key rule treats alike: full bytes, and zero bytes
// that end a DES key early (outer key at byte 4, middle key at byte 1).
const Key kKeys[] = {
    Key::from_hex("0123456789abcdeffedcba9876543210"),
    Key::from_hex("8a00d5e3f1007c2b9e4d00aa11223344"),
};

// The C function a coder must agree with.
template <typename C>
Bytes OneShot(const ByteVector &data, const Key &key) {
  if constexpr (std::is_same_v<C, Encoder>)
    return CEncode(data, key.bytes());
  else
    return CDecode(data, key.bytes());
}

// Feeds `data` in `pieces` through the forms that return buffers, and checks
// that every update() gave out exactly the whole blocks received so far
// (nothing more, nothing held longer).
template <typename C>
ByteVector Stream(C &coder, const ByteVector &data, const std::vector<std::size_t> &pieces) {
  ByteVector out;
  std::size_t fed = 0;
  for (const std::size_t piece : pieces) {
    const auto part = coder.update(std::span(data).subspan(fed, piece));
    fed += piece;
    out.insert(out.end(), part.begin(), part.end());
    EXPECT_EQ(out.size(), fed / 8 * 8) << "after " << fed << " bytes";
  }
  EXPECT_EQ(fed, data.size());
  const auto tail = coder.finish();
  EXPECT_EQ(tail.size(), data.size() % 8);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

// The same through the span forms, into one output buffer of exactly the
// message's size: each call must write exactly what it returns.
template <typename C>
ByteVector StreamSpans(C &coder, const ByteVector &data, const std::vector<std::size_t> &pieces) {
  ByteVector out(data.size());
  std::size_t fed = 0, written = 0;
  for (const std::size_t piece : pieces) {
    written += coder.update(std::span(data).subspan(fed, piece), std::span(out).subspan(written));
    fed += piece;
    EXPECT_EQ(written, fed / 8 * 8) << "after " << fed << " bytes";
  }
  written += coder.finish(std::span(out).subspan(written));
  EXPECT_EQ(written, data.size());
  return out;
}

Bytes StreamDigest(Digest &digest, const ByteVector &data, const std::vector<std::size_t> &pieces) {
  std::size_t fed = 0;
  for (const std::size_t piece : pieces) {
    digest.update(std::span(data).subspan(fed, piece));
    fed += piece;
  }
  EXPECT_EQ(fed, data.size());
  return ToBytes(digest.finish());
}

class StreamingTest : public testing::TestWithParam<Cutting> {};

TEST_P(StreamingTest, MatchesOneShotForLengthsUpTo300) {
  std::mt19937_64 rng(20240601);
  for (std::size_t length = 0; length <= 300; ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    const ByteVector plain = RandomBytes<std::byte>(rng, length);
    const std::vector<std::size_t> pieces = GetParam().pieces(length, rng);

    Digest digest;
    EXPECT_EQ(StreamDigest(digest, plain, pieces), CDigest(plain));
    EXPECT_EQ(ToBytes(compatcrypt::digest(plain)), CDigest(plain));

    for (const Key &key : kKeys) {
      SCOPED_TRACE("key " + key.to_hex());
      const Bytes cipher = CEncode(plain, key.bytes());
      Encoder encoder(key);
      EXPECT_EQ(ToBytes(Stream(encoder, plain, pieces)), cipher);
      EXPECT_EQ(ToBytes(StreamSpans(encoder, plain, pieces)), cipher);
      EXPECT_EQ(ToBytes(compatcrypt::encode(plain, key)), cipher);

      const ByteVector cipherBytes = ToByteVector(cipher);
      Decoder decoder(key);
      EXPECT_EQ(ToBytes(Stream(decoder, cipherBytes, pieces)), ToBytes(plain));
      EXPECT_EQ(ToBytes(StreamSpans(decoder, cipherBytes, pieces)), ToBytes(plain));
      EXPECT_EQ(ToBytes(compatcrypt::decode(cipherBytes, key)), ToBytes(plain));
      // Decoding bytes that no encoder produced still follows the C function.
      Decoder other(key);
      EXPECT_EQ(ToBytes(Stream(other, plain, pieces)), CDecode(plain, key.bytes()));
    }
  }
}

TEST_P(StreamingTest, MatchesOneShotForOneMebibyte) {
  std::mt19937_64 rng(77);
  const ByteVector plain = RandomBytes<std::byte>(rng, (1u << 20) + 13);
  const std::vector<std::size_t> pieces = GetParam().pieces(plain.size(), rng);
  const Key &key = kKeys[0];

  Digest digest;
  EXPECT_EQ(StreamDigest(digest, plain, pieces), CDigest(plain));
  const Bytes cipher = CEncode(plain, key.bytes());
  Encoder encoder(key);
  EXPECT_EQ(ToBytes(StreamSpans(encoder, plain, pieces)), cipher);
  Decoder decoder(key);
  EXPECT_EQ(StreamSpans(decoder, ToByteVector(cipher), pieces), plain);
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
  std::mt19937_64 rng(5);
  const Key &key = kKeys[0];
  for (const auto &[first, second] : {std::pair<std::size_t, std::size_t>{21, 5}, {16, 19}, {3, 0}, {0, 8}}) {
    SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
    const ByteVector a = RandomBytes<std::byte>(rng, first);
    const ByteVector b = RandomBytes<std::byte>(rng, second);
    Digest digest;
    Encoder encoder(key);
    Decoder decoder(key);
    Stream(encoder, a, {a.size()});
    Stream(decoder, a, {a.size()});
    digest.update(a).finish();
    EXPECT_EQ(ToBytes(Stream(encoder, b, {b.size()})), CEncode(b, key.bytes()));
    EXPECT_EQ(ToBytes(Stream(decoder, b, {b.size()})), CDecode(b, key.bytes()));
    EXPECT_EQ(ToBytes(digest.update(b).finish()), CDigest(b));
  }
}

// ---------------------------------------------------------------------------
// The span forms: exact sizes, and nothing written or consumed when `out` is
// too short.

// update_size() and finish_size() follow the held bytes (total input modulo
// 8), whatever was fed before, and each call writes exactly that many bytes:
// the byte after them in `out` is left alone.
template <typename C>
void CheckExactSizes() {
  std::mt19937_64 rng(61);
  const Key &key = kKeys[1];
  constexpr std::byte kGuard{0xC5};
  for (std::size_t before = 0; before <= 17; ++before) {
    for (std::size_t more = 0; more <= 17; ++more) {
      SCOPED_TRACE(testing::Message() << before << " bytes, then " << more);
      const ByteVector data = RandomBytes<std::byte>(rng, before + more);
      C coder(key);
      ByteVector out(data.size() + 1, kGuard);
      const std::size_t first = coder.update(std::span(data).first(before), out);
      ASSERT_EQ(first, before / 8 * 8);
      EXPECT_EQ(coder.finish_size(), before % 8);
      const std::size_t expected = (before + more) / 8 * 8 - first;
      EXPECT_EQ(coder.update_size(more), expected);
      const std::span<std::byte> rest = std::span(out).subspan(first);
      EXPECT_EQ(coder.update(std::span(data).subspan(before), rest), expected);
      EXPECT_EQ(rest[expected], kGuard) << "update wrote past its size";
      EXPECT_EQ(coder.finish_size(), (before + more) % 8);
      const std::size_t tail = coder.finish_size();
      EXPECT_EQ(coder.finish(std::span(out).subspan(first + expected)), tail);
      EXPECT_EQ(out.back(), kGuard) << "finish wrote past its size";
      out.pop_back();
      EXPECT_EQ(ToBytes(out), OneShot<C>(data, key));
      EXPECT_EQ(coder.finish_size(), 0u);
      EXPECT_EQ(coder.update_size(7), 0u);
      EXPECT_EQ(coder.update_size(8), 8u);
    }
  }
}

TEST(SpanFormTest, EncoderWritesExactlyTheSizesItStates) { CheckExactSizes<Encoder>(); }
TEST(SpanFormTest, DecoderWritesExactlyTheSizesItStates) { CheckExactSizes<Decoder>(); }

// One byte short of what a call writes: Error (result::error), no byte of
// `out` written and no input consumed, so the same call with room gives
// the one-shot result. A call that writes nothing accepts an empty `out`.
template <typename C>
void CheckTooSmall() {
  std::mt19937_64 rng(62);
  const Key &key = kKeys[0];
  constexpr std::byte kGuard{0x3C};
  for (std::size_t held = 0; held < 8; ++held) {
    for (std::size_t more : {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{20}}) {
      if (held + more < 8) continue;
      SCOPED_TRACE(testing::Message() << held << " bytes held, " << more << " more");
      const ByteVector data = RandomBytes<std::byte>(rng, held + more);
      C coder(key);
      ByteVector out(data.size(), kGuard);
      ASSERT_EQ(coder.update(std::span(data).first(held), std::span<std::byte>()), 0u);
      const std::size_t needed = coder.update_size(more);
      ASSERT_GT(needed, 0u);
      try {
        coder.update(std::span(data).subspan(held), std::span(out).first(needed - 1));
        ADD_FAILURE() << "update into a short span did not throw";
      } catch (const Error &error) {
        EXPECT_EQ(error.code(), result::error);
      }
      EXPECT_EQ(out, ByteVector(data.size(), kGuard)) << "update wrote into a short span";
      EXPECT_EQ(coder.finish_size(), held) << "update consumed input before throwing";

      std::size_t written = coder.update(std::span(data).subspan(held), out);
      EXPECT_EQ(written, needed);
      const std::size_t tail = coder.finish_size();
      if (tail != 0) {
        try {
          coder.finish(std::span(out).subspan(written, tail - 1));
          ADD_FAILURE() << "finish into a short span did not throw";
        } catch (const Error &error) {
          EXPECT_EQ(error.code(), result::error);
        }
        EXPECT_EQ(out[written], kGuard) << "finish wrote into a short span";
        EXPECT_EQ(coder.finish_size(), tail) << "finish dropped the held bytes before throwing";
      }
      written += coder.finish(std::span(out).subspan(written));
      EXPECT_EQ(written, data.size());
      EXPECT_EQ(ToBytes(out), OneShot<C>(data, key));
    }
  }
}

TEST(SpanFormTest, EncoderRefusesAShortSpanAndWritesNothing) { CheckTooSmall<Encoder>(); }
TEST(SpanFormTest, DecoderRefusesAShortSpanAndWritesNothing) { CheckTooSmall<Decoder>(); }

// ---------------------------------------------------------------------------
// In place: `out` starts at `in` or before it, at least by the held bytes,
// since each update() writes them first. Two ways of doing it: one buffer
// read at `r` and written at `w`, where `w` trails `r` by the held bytes, so
// that the buffer ends up holding the one-shot result; and each piece coded
// where it lies, `out` from 0 to 7 bytes before it (never fewer than the
// held bytes; 0 only when none are held).

template <typename C>
Bytes CodeTrailing(const Key &key, const ByteVector &data, const std::vector<std::size_t> &pieces) {
  ByteVector buffer = data;
  const std::span<std::byte> all(buffer);
  C coder(key);
  std::size_t r = 0, w = 0;
  for (const std::size_t piece : pieces) {
    const std::size_t expected = coder.update_size(piece);
    const std::size_t written = coder.update(all.subspan(r, piece), all.subspan(w));
    EXPECT_EQ(written, expected);
    r += piece;
    w += written;
    EXPECT_EQ(r - w, r % 8) << "the write position must trail by the held bytes";
  }
  EXPECT_EQ(r, data.size());
  w += coder.finish(all.subspan(w));
  EXPECT_EQ(w, data.size());
  return ToBytes(buffer);
}

template <typename C>
Bytes CodeWhereItLies(const Key &key, const ByteVector &data, const std::vector<std::size_t> &pieces,
                      std::mt19937_64 &rng) {
  C coder(key);
  Bytes out;
  std::size_t r = 0;
  for (const std::size_t piece : pieces) {
    // The piece at byte 7 of a buffer with 7 bytes of room after it.
    ByteVector buffer(7 + piece + 7);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(r), piece, buffer.begin() + 7);
    const std::size_t before = coder.finish_size() + rng() % (8 - coder.finish_size());
    const std::span<std::byte> to = std::span(buffer).subspan(7 - before);
    const std::size_t written = coder.update(std::span(buffer).subspan(7, piece), to);
    out.insert(out.end(), U(to), U(to) + written);
    r += piece;
  }
  ByteVector tail(7);
  const std::size_t written = coder.finish(tail);
  out.insert(out.end(), U(tail), U(tail) + written);
  return out;
}

// Every single cut point, then random cuttings (empty pieces included).
std::vector<std::vector<std::size_t>> InPlaceCuttings(std::size_t n, std::mt19937_64 &rng) {
  std::vector<std::vector<std::size_t>> cuttings;
  for (std::size_t cut = 0; cut <= n; ++cut) cuttings.push_back({cut, n - cut});
  for (int i = 0; i < 6; ++i) cuttings.push_back(Random(n, rng, i % 2 == 0 ? 9 : 40));
  return cuttings;
}

template <typename C>
void CheckInPlace() {
  std::mt19937_64 rng(63);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (std::size_t n : {1000u, 4099u, 65536u + 13u}) lengths.push_back(n);
  for (const Key &key : kKeys) {
    for (const std::size_t n : lengths) {
      const ByteVector data = RandomBytes<std::byte>(rng, n);
      const Bytes expected = OneShot<C>(data, key);
      std::vector<std::vector<std::size_t>> cuttings;
      if (n <= 100) {
        cuttings = InPlaceCuttings(n, rng);
      } else {
        for (int i = 0; i < 4; ++i) cuttings.push_back(Random(n, rng, 100));
        cuttings.push_back(Random(n, rng, 5000));
      }
      for (const auto &pieces : cuttings) {
        ASSERT_EQ(CodeTrailing<C>(key, data, pieces), expected)
            << "trailing; key " << key.to_hex() << ", " << n << " bytes, pieces "
            << testing::PrintToString(pieces);
        ASSERT_EQ(CodeWhereItLies<C>(key, data, pieces, rng), expected)
            << "where it lies; key " << key.to_hex() << ", " << n << " bytes, pieces "
            << testing::PrintToString(pieces);
      }
    }
  }
}

TEST(InPlaceTest, EncoderAtEveryCut) { CheckInPlace<Encoder>(); }
TEST(InPlaceTest, DecoderAtEveryCut) { CheckInPlace<Decoder>(); }

// ---------------------------------------------------------------------------
// Copies: a copy made mid-message (constructed or assigned) carries on on its
// own. Prefixes put the copy before and after the first whole block (the
// tail's pad), with 0 to 7 coder bytes held and 0 to 63 digest bytes
// pending.

const std::size_t kPrefixes[] = {0, 1, 5, 7, 8, 13, 16, 63, 64, 70, 129};

// The coder an assignment overwrites: another key, another message, bytes
// held, the first block already out.
template <typename C>
C BusyCoder() {
  C other(Key::from_hex("f0e1d2c3b4a5968778695a4b3c2d1e0f"));
  const ByteVector junk(13, std::byte{0x77});
  other.update(junk);
  return other;
}

template <typename C>
ByteVector Rest(C &coder, std::span<const std::byte> rest) {
  ByteVector out = ToByteVector(coder.update(rest));
  const auto tail = coder.finish();
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

template <typename C>
void CheckCopies() {
  std::mt19937_64 rng(64);
  const Key &key = kKeys[1];
  for (const std::size_t prefix : kPrefixes) {
    for (const bool assign : {false, true}) {
      SCOPED_TRACE(testing::Message() << prefix << "-byte prefix, " << (assign ? "assigned" : "constructed"));
      const ByteVector head = RandomBytes<std::byte>(rng, prefix);
      const ByteVector restA = RandomBytes<std::byte>(rng, 1 + rng() % 40);
      const ByteVector restB = RandomBytes<std::byte>(rng, rng() % 40);
      ByteVector a = head, b = head;
      a.insert(a.end(), restA.begin(), restA.end());
      b.insert(b.end(), restB.begin(), restB.end());

      C source(key);
      const ByteVector headOut = ToByteVector(source.update(head));
      C constructed(source), constructedTwin(source);
      C assigned = BusyCoder<C>(), assignedTwin = BusyCoder<C>();
      assigned = source;
      assignedTwin = source;
      C &copy = assign ? assigned : constructed;
      C &twin = assign ? assignedTwin : constructedTwin;

      // Same rest: equal outputs, and the one-shot result of the message.
      ByteVector sameA = headOut, sameB = headOut;
      const ByteVector outSource = Rest(source, restA);
      const ByteVector outTwin = Rest(twin, restA);
      EXPECT_EQ(outSource, outTwin);
      sameA.insert(sameA.end(), outSource.begin(), outSource.end());
      EXPECT_EQ(ToBytes(sameA), OneShot<C>(a, key));

      // A different rest: the copy's output is that of its own message.
      const ByteVector outCopy = Rest(copy, restB);
      sameB.insert(sameB.end(), outCopy.begin(), outCopy.end());
      EXPECT_EQ(ToBytes(sameB), OneShot<C>(b, key));
    }
  }
}

TEST(CopyTest, EncoderCopiesCarryOnIndependently) { CheckCopies<Encoder>(); }
TEST(CopyTest, DecoderCopiesCarryOnIndependently) { CheckCopies<Decoder>(); }

TEST(CopyTest, DigestCopiesCarryOnIndependently) {
  std::mt19937_64 rng(65);
  for (const std::size_t prefix : kPrefixes) {
    for (const bool assign : {false, true}) {
      SCOPED_TRACE(testing::Message() << prefix << "-byte prefix, " << (assign ? "assigned" : "constructed"));
      const ByteVector head = RandomBytes<std::byte>(rng, prefix);
      const ByteVector restA = RandomBytes<std::byte>(rng, rng() % 130);
      const ByteVector restB = RandomBytes<std::byte>(rng, 1 + rng() % 130);
      ByteVector a = head, b = head;
      a.insert(a.end(), restA.begin(), restA.end());
      b.insert(b.end(), restB.begin(), restB.end());

      Digest source;
      source.update(head);
      Digest constructed(source), constructedTwin(source);
      // Assignment overwrites digests with bytes pending and counts of their own.
      Digest assigned, assignedTwin;
      assigned.update(ByteVector(100, std::byte{1}));
      assignedTwin.update(ByteVector(3, std::byte{2}));
      assigned = source;
      assignedTwin = source;
      Digest &copy = assign ? assigned : constructed;
      Digest &twin = assign ? assignedTwin : constructedTwin;
      EXPECT_EQ(ToBytes(twin.update(restA).finish()), ToBytes(source.update(restA).finish()));
      EXPECT_EQ(ToBytes(source.update(a).finish()), CDigest(a)) << "finish() did not start over";
      EXPECT_EQ(ToBytes(copy.update(restB).finish()), CDigest(b));
    }
  }
}

// Moving copies: the moved-to object carries on with the message, and the
// moved-from one is still an object that can code a message of its own.
TEST(CopyTest, MovedFromObjectsStayUsable) {
  std::mt19937_64 rng(66);
  const Key &key = kKeys[0];
  const ByteVector plain = RandomBytes<std::byte>(rng, 45);
  const ByteVector other = RandomBytes<std::byte>(rng, 29);

  Encoder encoder(key);
  ByteVector out = ToByteVector(encoder.update(std::span(plain).first(13)));
  Encoder moved = std::move(encoder);
  const ByteVector rest = Rest(moved, std::span(plain).subspan(13));
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_EQ(ToBytes(out), CEncode(plain, key.bytes()));
  encoder.finish();
  EXPECT_EQ(ToBytes(Rest(encoder, other)), CEncode(other, key.bytes()));

  Decoder decoder(key);
  decoder.update(std::span(plain).first(3));
  Decoder movedDecoder = std::move(decoder);
  decoder.finish();
  EXPECT_EQ(ToBytes(Rest(decoder, other)), CDecode(other, key.bytes()));

  Digest digest;
  digest.update(std::span(plain).first(30));
  Digest movedDigest = std::move(digest);
  EXPECT_EQ(ToBytes(movedDigest.update(std::span(plain).subspan(30)).finish()), CDigest(plain));
  digest.finish();
  EXPECT_EQ(ToBytes(digest.update(other).finish()), CDigest(other));
}

}  // namespace
}  // namespace compatcrypt::test

namespace compatcrypt::test {
namespace {

// Pieces digested apart and joined in order give the digest of the whole,
// wherever the cuts fall on block boundaries, including pieces that are
// empty, a whole number of blocks, or carry the tail; a cut inside a block
// is refused and changes nothing.
TEST(DigestAppendTest, PiecesJoinedInOrderEqualTheWhole) {
  std::mt19937_64 rng(41);
  const ByteVector data = RandomBytes<std::byte>(rng, 64 * 40 + 23);
  const std::span<const std::byte> all(data);
  const Bytes whole = CDigest(data);
  const struct {
    std::size_t firstCut, secondCut;  // in blocks
  } cuts[] = {{0, 0}, {0, 40}, {1, 2}, {5, 40}, {13, 27}, {40, 40}};
  for (const auto &c : cuts) {
    SCOPED_TRACE(testing::Message() << c.firstCut << " and " << c.secondCut << " blocks");
    Digest first, second, third;
    first.update(all.first(64 * c.firstCut));
    second.update(all.subspan(64 * c.firstCut, 64 * (c.secondCut - c.firstCut)));
    third.update(all.subspan(64 * c.secondCut));
    EXPECT_EQ(ToBytes(first.append(second).append(third).finish()), whole);
  }
  Digest ragged, rest;
  ragged.update(all.first(65));
  rest.update(all.subspan(65));
  Digest before = ragged;
  try {
    ragged.append(rest);
    ADD_FAILURE() << "a piece that ends inside a block was joined";
  } catch (const Error &error) {
    EXPECT_EQ(error.code(), result::error);
  }
  EXPECT_EQ(ragged.finish(), before.finish());
}

}  // namespace
}  // namespace compatcrypt::test
