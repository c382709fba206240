// Password keys: the fold of the password to a seed, the two self-keyed DES
// steps, and the password-keyed buffer exports. No key value is written
// down here: expected keys are ModelKey's, on OpenSSL's DES
// (tests/support/openssl_models.cpp), or equal pairs the fold rule implies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "compatcrypt.h"
#include "support/openssl_models.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

// KeyGenerating over `length` bytes of `password`, whatever its size.
Bytes KeyOf(const Bytes &password, int32_t length) {
  Bytes out(16);
  int32_t outLen = 0;
  EXPECT_EQ(KeyGenerating(password.data(), length, out.data(), &outLen, 1), 1);
  EXPECT_EQ(outLen, 16);
  return out;
}
template <ByteRange P>
Bytes KeyOf(const P &password) {
  return CKey(password);
}
Bytes KeyOf(const char *password) { return CKey(std::string(password)); }

// The key derivation's model (tests/support/openssl_models.cpp).
Bytes ModelKey(const Bytes &password) { return ModelPasswordKey(password); }

TEST(PasswordKey, MatchesModelForRandomPasswords) {
  std::mt19937_64 rng(41);
  for (int i = 0; i < 500; ++i) {
    Bytes password = RandomBytes(rng, rng() % 40);
    for (auto &b : password)
      if (rng() % 8 == 0) b = (rng() % 2) ? 0x00 : 0x80;  // bytes that fold to nothing
    ASSERT_EQ(ToHex(KeyOf(password)), ToHex(ModelKey(password))) << ToHex(password);
  }
}

TEST(PasswordKey, EdgeCases) {
  const Bytes longBuffer = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  // Each pair has the same seed by the fill and fold rules.
  const struct {
    const char *what;
    Bytes key;
    Bytes same;
  } cases[] = {
      {"empty password is eight fill letters", KeyOf(std::string()), KeyOf(std::string("llllllll"))},
      {"short password is filled to eight", KeyOf(std::string("abc")), KeyOf(std::string("abclllll"))},
      {"six bytes are filled", KeyOf(std::string("abcdef")), KeyOf(std::string("abcdefll"))},
      {"seven bytes are not filled", KeyOf(std::string("abcdefg")),
       KeyOf(Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 0})},
      {"bit 7 is ignored", KeyOf(std::string("Pass\xF7ord!")), KeyOf(std::string("Pass\x77ord\xA1"))},
      {"repeated halves fold to the zero seed",
       KeyOf(Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0xE1, 0xE2, 'c', 'd', 'e', 'f', 'g', 'h'}),
       KeyOf(Bytes(8, 0))},
      {"length 3 over a longer buffer", KeyOf(longBuffer, 3), KeyOf(std::string("abclllll"))},
      {"negative length is empty", KeyOf(longBuffer, -4), KeyOf(std::string("llllllll"))},
      {"0x00 and 0x80 take a position", KeyOf(Bytes{0x00, 'b', 'c'}), KeyOf(Bytes{0x80, 'b', 'c'})},
  };
  for (const auto &c : cases) EXPECT_EQ(ToHex(c.key), ToHex(c.same)) << c.what;

  EXPECT_NE(KeyOf(std::string()), KeyOf(std::string("lllllll"))) << "seven fill letters are not empty";
  EXPECT_NE(KeyOf(std::string("abcdefg")), KeyOf(std::string("abcdefgl")));
}

TEST(PasswordKey, ZeroFirstSeedByteMakesTheFirstKeyAllZero) {
  const Bytes password = {0x00, 'b', 'c', 'd'};
  const Bytes seed = {0x00, 'b', 'c', 'd', 'l', 'l', 'l', 'l'};
  const Bytes zero(8, 0);
  const Bytes first = ModelDesBlock(zero.data(), seed.data(), false);
  const Bytes key = KeyOf(password);
  for (int t = 0; t < 8; ++t) EXPECT_EQ(key[2 * t], first[t]) << t;
}

TEST(PasswordKey, OutLenAndWrongMode) {
  unsigned char out[16] = {};
  int32_t outLen = -77;
  const auto *pw = reinterpret_cast<const unsigned char *>("pw");
  for (uint32_t mode : {0u, 2u, 16u}) {
    EXPECT_EQ(KeyGenerating(pw, 2, out, &outLen, mode), -1);
    EXPECT_EQ(EncodeKey(pw, out, 16, out, mode), -1);
    EXPECT_EQ(DecodeKey(pw, out, 16, out, mode), -1);
  }
  EXPECT_EQ(outLen, -77);
  EXPECT_EQ(Bytes(out, out + 16), Bytes(16, 0));
  EXPECT_EQ(KeyGenerating(pw, 2, out, &outLen, 1), 1);
  EXPECT_EQ(outLen, 16);
}

// EncodeKey and DecodeKey are the buffer exports under KeyGenerating's key,
// byte for byte, including in place at every length.
TEST(PasswordKeyExports, EqualBufferExportsUnderTheDerivedKey) {
  std::mt19937_64 rng(42);
  const char *passwords[] = {"", "a", "secret", "seven77", "a much longer pass phrase \xC3\xA9t\xC3\xA9"};
  for (const char *password : passwords) {
    const auto *pw = reinterpret_cast<const unsigned char *>(password);
    const Bytes key = KeyOf(password);
    for (std::size_t n = 0; n <= 40; ++n) {
      SCOPED_TRACE(testing::Message() << '"' << password << "\" " << n);
      const Bytes plain = RandomBytes(rng, n);
      const int32_t len = static_cast<int32_t>(n);
      const Bytes viaPassword = CEncodeKey(password, plain);
      EXPECT_EQ(viaPassword, CEncode(plain, key));
      EXPECT_EQ(CDecodeKey(password, plain), CDecode(plain, key));
      Bytes buffer = viaPassword;
      ASSERT_EQ(EncodeKey(pw, plain.data(), len, buffer.data(), 1), 1);
      ASSERT_EQ(DecodeKey(pw, buffer.data(), len, buffer.data(), 1), 1);
      EXPECT_EQ(buffer, plain);
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test

namespace compatcrypt::test {
namespace {

// A negative length is no data: 1, and nothing is written.
TEST(PasswordKeyExports, NegativeDataLengthWritesNothing) {
  const auto *pw = reinterpret_cast<const unsigned char *>("secret");
  const Bytes data(16, 0x33);
  for (int32_t len : {-1, -8, -17, INT32_MIN}) {
    SCOPED_TRACE(len);
    Bytes out(16, 0xA5);
    EXPECT_EQ(EncodeKey(pw, data.data(), len, out.data(), 1), 1);
    EXPECT_EQ(out, Bytes(16, 0xA5));
    EXPECT_EQ(DecodeKey(pw, data.data(), len, out.data(), 1), 1);
    EXPECT_EQ(out, Bytes(16, 0xA5));
  }
}

// Passwords past 40 bytes fold every byte in: bytes k, k + 8, k + 16, ...
// share bit positions. A derivation that stops at a fixed size, or wraps at
// another period, gives another key.
TEST(PasswordKey, LongPasswordsMatchModel) {
  std::mt19937_64 rng(43);
  for (std::size_t n : {41u, 48u, 55u, 56u, 57u, 64u, 100u, 255u, 256u, 1000u, 4097u}) {
    SCOPED_TRACE(n);
    Bytes password = RandomBytes(rng, n);
    for (auto &b : password)
      if (b == 0) b = 0x21;  // EncodeKey takes it NUL-terminated
    const Bytes model = ModelKey(password);
    EXPECT_EQ(ToHex(KeyOf(password)), ToHex(model));
    const std::string text(password.begin(), password.end());
    const Bytes plain = RandomBytes(rng, 21);
    EXPECT_EQ(ToHex(CEncodeKey(text, plain)), ToHex(ModelEncode(plain, model.data())));
    EXPECT_EQ(ToHex(CDecodeKey(text, plain)), ToHex(ModelDecode(plain, model.data())));
  }
}

// "pw736" (found by a search over short passwords) derives a key whose
// outer half (even bytes) has its first zero at byte 2 and whose middle half
// (odd bytes) has its first zero at byte 3: each DES key ends there, so
// the bytes after it must not reach the cipher.
TEST(PasswordKeyExports, DerivedKeyWithAZeroByteInEachHalf) {
  const std::string password = "pw736";
  const Bytes key = KeyOf(password.c_str());
  ASSERT_EQ(ToHex(key), ToHex(ModelKey(Bytes(password.begin(), password.end()))));
  ASSERT_EQ(key[2 * 2], 0) << ToHex(key);
  ASSERT_EQ(key[2 * 3 + 1], 0) << ToHex(key);
  // The key with everything after each half's zero byte cleared.
  Bytes cut = key;
  for (int t = 2; t < 8; ++t) cut[2 * t] = 0;
  for (int t = 3; t < 8; ++t) cut[2 * t + 1] = 0;
  ASSERT_NE(cut, key);
  std::mt19937_64 rng(44);
  for (std::size_t n : {1u, 7u, 8u, 13u, 16u, 40u}) {
    SCOPED_TRACE(n);
    const Bytes plain = RandomBytes(rng, n);
    const Bytes encoded = CEncodeKey(password, plain);
    EXPECT_EQ(ToHex(encoded), ToHex(CEncode(plain, key)));
    EXPECT_EQ(ToHex(encoded), ToHex(ModelEncode(plain, cut.data())));
    EXPECT_EQ(ToHex(CDecodeKey(password, plain)), ToHex(ModelDecode(plain, cut.data())));
  }
}

}  // namespace
}  // namespace compatcrypt::test
