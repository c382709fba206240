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

// The derivation bit by bit as its format is defined: seven bits of each
// byte of the working password XORed into a 56-bit register at a running
// position, the register spread over bits 0 to 6 of eight seed bytes, then
// the seed and the first half each encrypted under themselves (by OpenSSL).
Bytes ModelKey(const Bytes &password) {
  Bytes working = password;
  if (working.size() < 7) working.resize(8, 0x6C);
  uint8_t reg[56] = {};
  int i = 0;
  for (unsigned char byte : working)
    for (int b = 0; b < 7; ++b, i = (i + 1) % 56) reg[i] ^= (byte >> b) & 1;
  Bytes seed(8, 0);
  for (int p = 0; p < 56; ++p) seed[p / 7] |= static_cast<unsigned char>(reg[p] << (p % 7));
  const Bytes first = ModelDesBlock(seed.data(), seed.data(), false);
  const Bytes second = ModelDesBlock(first.data(), first.data(), false);
  Bytes key(16);
  for (int t = 0; t < 8; ++t) {
    key[2 * t] = first[t];
    key[2 * t + 1] = second[t];
  }
  return key;
}

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
