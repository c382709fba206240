// The encoded-buffer format: two-key triple-DES CBC from a zero IV over full
// blocks, a partial last block XORed with the first cipher block, and
// inputs of 1 to 7 bytes XORed with the encryption of the zero block.
// Expected values come from the OpenSSL model of the format
// (tests/support/openssl_models.cpp) or from relations the format implies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "compatcrypt.h"
#include "support/openssl_models.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

// A random key of `size` bytes; half of them get a zero byte at an even
// (outer key) or odd (middle key) position of the first 16.
Bytes RandomKey(std::mt19937_64 &rng, std::size_t size) {
  Bytes key = RandomBytes(rng, size);
  for (std::size_t i = 0; i < 16; ++i)
    if (key[i] == 0) key[i] = 0x5A;
  if (rng() % 2 == 0) key[rng() % 16] = 0;
  return key;
}

TEST(TripleDesFormat, KeyLength) {
  const Bytes key = FromHex("0123456789abcdeffedcba9876543210aabbccddeeff");
  const Bytes plain(24, 0x42);
  Bytes out(24, 0xA5);
  const struct {
    int32_t keyLen;
    uint32_t mode;
    int32_t result;
  } cases[] = {{15, 1, -2}, {0, 1, -2}, {-1, 1, -2}, {15, 2, -1}, {16, 1, 1}, {22, 1, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.keyLen);
    std::fill(out.begin(), out.end(), 0xA5);
    EXPECT_EQ(EncodeFunction(plain.data(), 24, key.data(), c.keyLen, out.data(), c.mode), c.result);
    EXPECT_EQ(DecodeFunction(plain.data(), 24, key.data(), c.keyLen, out.data(), c.mode), c.result);
    if (c.result != 1) {
      EXPECT_EQ(out, Bytes(24, 0xA5));
    }
  }
  // Bytes from 16 on are never read.
  Bytes longer = key;
  longer[16] ^= 0xFF;
  EXPECT_EQ(CEncode(plain, Bytes(key.begin(), key.begin() + 16)), CEncode(plain, longer));
}

TEST(TripleDesFormat, NothingWrittenForEmptyOrNegativeLengths) {
  const Bytes key(16, 0x11);
  unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  unsigned char out[8] = {};
  for (int32_t n : {0, -1, INT32_MIN}) {
    EXPECT_EQ(EncodeFunction(data, n, key.data(), 16, out, 1), 1);
    EXPECT_EQ(DecodeFunction(data, n, key.data(), 16, out, 1), 1);
    EXPECT_EQ(Bytes(out, out + 8), Bytes(8, 0));
  }
}

TEST(TripleDesFormat, TailUsesTheFirstCipherBlock) {
  std::mt19937_64 rng(33);
  const Bytes key = RandomKey(rng, 16);
  const Bytes plain = RandomBytes(rng, 8 * 3 + 5);
  const Bytes encoded = CEncode(plain, key);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(encoded[24 + k], plain[24 + k] ^ encoded[k]) << k;
}

TEST(TripleDesFormat, EqualBlocksEncodeDifferently) {
  const Bytes key = FromHex("00112233445566778899aabbccddeeff");
  const Bytes encoded = CEncode(Bytes(16, 0x33), key);
  EXPECT_NE(Bytes(encoded.begin(), encoded.begin() + 8), Bytes(encoded.begin() + 8, encoded.end()));
  EXPECT_EQ(CEncode(Bytes(16, 0x33), key), encoded);
}

TEST(TripleDesFormat, ChangesSpreadOnlyForward) {
  std::mt19937_64 rng(34);
  const Bytes key = RandomKey(rng, 16);
  const Bytes plain = RandomBytes(rng, 8 * 4 + 6);
  const Bytes base = CEncode(plain, key);
  auto changed = [&](std::size_t at) {
    Bytes p = plain;
    p[at] ^= 0x10;
    const Bytes e = CEncode(p, key);
    std::vector<std::size_t> diff;
    for (std::size_t i = 0; i < e.size(); ++i)
      if (e[i] != base[i]) diff.push_back(i);
    return diff;
  };
  // The first block reaches every cipher block, and each tail byte changes
  // exactly as the first cipher block's byte at its position does.
  Bytes p = plain;
  p[3] ^= 0x10;
  const Bytes e = CEncode(p, key);
  for (std::size_t b = 0; b < 32; b += 8)
    EXPECT_FALSE(std::equal(e.begin() + b, e.begin() + b + 8, base.begin() + b)) << "block " << b / 8;
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(e[32 + k] ^ base[32 + k], e[k] ^ base[k]) << k;
  // A later block leaves the first block and the tail alone.
  const auto later = changed(17);
  ASSERT_FALSE(later.empty());
  EXPECT_GE(later.front(), 16u);
  EXPECT_LT(later.back(), 32u);
  // A tail byte changes only itself.
  EXPECT_EQ(changed(34), std::vector<std::size_t>{34});
}

TEST(TripleDesFormat, FlippedBitInFirstCipherBlockOnDecode) {
  std::mt19937_64 rng(35);
  const Bytes key = RandomKey(rng, 16);
  const Bytes plain = RandomBytes(rng, 8 * 3 + 5);
  const Bytes encoded = CEncode(plain, key);
  for (int byte : {0, 3, 4, 7}) {
    Bytes damaged = encoded;
    damaged[byte] ^= 0x04;
    const Bytes decoded = CDecode(damaged, key);
    SCOPED_TRACE(byte);
    // The whole first block is garbled (with overwhelming probability each
    // byte differs)...
    int garbled = 0;
    for (int i = 0; i < 8; ++i) garbled += decoded[i] != plain[i];
    EXPECT_GE(garbled, 5);
    // ...the same bit of the second block and, below the tail length, of
    // the tail flips; nothing else changes.
    for (std::size_t i = 8; i < plain.size(); ++i) {
      const bool flips = i == 8u + byte || (i >= 24 && i - 24 == static_cast<std::size_t>(byte));
      EXPECT_EQ(decoded[i], flips ? plain[i] ^ 0x04 : plain[i]) << i;
    }
  }
}

// An input of 1 to 7 bytes has no cipher block: it is XORed with the
// encryption of the zero block, so it never comes out in plain, and
// decoding undoes encoding. The pad is the model's triple DES of the zero
// block, so a wrong pad the library uses consistently is still caught.
TEST(TripleDesFormat, ShortInputs) {
  std::mt19937_64 rng(36);
  const Bytes key = RandomKey(rng, 16);
  const Bytes pad = ModelEncode(Bytes(8, 0), key.data());
  EXPECT_EQ(ToHex(CEncode(Bytes(8, 0), key)), ToHex(pad));
  for (std::size_t n = 1; n <= 7; ++n) {
    const Bytes plain = RandomBytes(rng, n);
    const Bytes encoded = CEncode(plain, key);
    for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(encoded[k], plain[k] ^ pad[k]);
    EXPECT_NE(encoded, plain);
    EXPECT_EQ(CDecode(encoded, key), plain);
    EXPECT_EQ(CDecode(plain, key), encoded);
  }
}

TEST(TripleDesFormat, InPlaceEqualsSeparateBuffersAtEveryLength) {
  std::mt19937_64 rng(37);
  const Bytes key = RandomKey(rng, 16);
  for (std::size_t n = 1; n <= 70; ++n) {
    const Bytes plain = RandomBytes(rng, n);
    const int32_t len = static_cast<int32_t>(n);
    Bytes buffer = plain;
    ASSERT_EQ(EncodeFunction(buffer.data(), len, key.data(), 16, buffer.data(), 1), 1);
    const Bytes encoded = CEncode(plain, key);
    EXPECT_EQ(buffer, encoded) << n;
    ASSERT_EQ(DecodeFunction(buffer.data(), len, key.data(), 16, buffer.data(), 1), 1);
    EXPECT_EQ(buffer, plain) << n;
  }
}

// 85e813540f0ab405 is single DES of 0123456789abcdef under 133457799bbcdff1,
// the widely published worked example (DesBlock.PublishedWorkedExample);
// OpenSSL's DES gives the same.
TEST(TripleDesKeys, EqualHalvesAreSingleDesChained) {
  const Bytes single = FromHex("133457799bbcdff1");
  Bytes key(16);
  for (int i = 0; i < 8; ++i) key[2 * i] = key[2 * i + 1] = single[i];
  const Bytes plain = FromHex("0123456789abcdef0123456789abcdef");
  const Bytes encoded = CEncode(plain, key);
  EXPECT_EQ(ToHex(Bytes(encoded.begin(), encoded.begin() + 8)), "85e813540f0ab405");
  Bytes second(8);
  for (int i = 0; i < 8; ++i) second[i] = plain[8 + i] ^ encoded[i];
  EXPECT_EQ(Bytes(encoded.begin() + 8, encoded.end()), ModelDesBlock(single.data(), second.data(), false));
}

TEST(TripleDesKeys, BytesAfterAZeroInAHalfAreIgnored) {
  const Bytes base = FromHex("11223344556677889900aabbccddeeff");
  const Bytes plain = FromHex("000102030405060708090a0b0c0d0e0f10");
  // A zero at byte 2m ends the outer key: the even bytes after it are dead,
  // the odd bytes still count.
  Bytes outerCut = base;
  outerCut[4] = 0;
  Bytes changed = outerCut;
  changed[6] ^= 0xFF;
  changed[14] ^= 0x0F;
  EXPECT_EQ(CEncode(plain, outerCut), CEncode(plain, changed));
  changed[7] ^= 0xF0;
  EXPECT_NE(CEncode(plain, outerCut), CEncode(plain, changed));
  // Likewise a zero at byte 2m + 1 ends the middle key.
  Bytes middleCut = base;
  middleCut[1] = 0;
  Bytes other = middleCut;
  for (int i = 3; i < 16; i += 2) other[i] = 0xEE;
  EXPECT_EQ(CEncode(plain, middleCut), CEncode(plain, other));
}

}  // namespace
}  // namespace compatcrypt::test
