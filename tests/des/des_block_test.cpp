// The single-DES block operation: the key rule (a key ends at its first zero
// byte), aliasing of key, input and output, and agreement with OpenSSL's DES
// for random keys and blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "des/modes/triple_des.h"
#include "support/openssl_models.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

Bytes Des(const Bytes &key, const Bytes &block, int decrypt = 0) {
  Bytes out(8);
  des::DesBlock(key.data(), block.data(), out.data(), decrypt);
  return out;
}

TEST(DesBlock, MatchesOpenSslWithKeyRule) {
  std::mt19937_64 rng(21);
  for (int i = 0; i < 2000; ++i) {
    Bytes key = RandomBytes(rng, 8);
    if (i % 2 == 0) key[rng() % 8] = 0;  // half the keys are cut short
    const Bytes block = RandomBytes(rng, 8);
    ASSERT_EQ(Des(key, block), ModelDesBlock(key.data(), block.data(), false)) << ToHex(key);
    ASSERT_EQ(Des(key, block, 1), ModelDesBlock(key.data(), block.data(), true)) << ToHex(key);
  }
}

TEST(DesBlock, KeyRule) {
  const Bytes block = FromHex("0011223344556677");
  const Bytes zero(8, 0);
  // A first byte of 0 makes the all-zero key.
  EXPECT_EQ(Des(FromHex("00ffeeddccbbaa99"), block), Des(zero, block));
  // Keys that agree up to their first zero byte agree.
  EXPECT_EQ(Des(FromHex("1234560011111111"), block), Des(FromHex("12345600ffffffff"), block));
  EXPECT_EQ(Des(FromHex("1234560011111111"), block), Des(FromHex("1234560000000000"), block));
  // 0x01 is not a terminator: it adds only an ignored bit, and what follows counts.
  EXPECT_NE(Des(FromHex("1234560111111111"), block), Des(FromHex("12345601ffffffff"), block));
  EXPECT_NE(Des(FromHex("1234560111111111"), block), Des(FromHex("1234560011111111"), block));
  // The lowest bit of every key byte is ignored while no byte becomes zero.
  EXPECT_EQ(Des(FromHex("133457799bbcdff1"), block), Des(FromHex("123556789abddef0"), block));
  // Only eight bytes are read: the ninth is past the key.
  const Bytes nine = FromHex("0102030405060708ff");
  EXPECT_EQ(Des(nine, block), Des(FromHex("0102030405060708"), block));
}

TEST(DesBlock, ZeroBytesInTheInputAreData) {
  const Bytes key = FromHex("133457799bbcdff1");
  EXPECT_NE(Des(key, FromHex("0000000000000000")), Des(key, FromHex("0000000000000001")));
}

TEST(DesBlock, DecryptFlagAnyNonZero) {
  const Bytes key = FromHex("133457799bbcdff1");
  const Bytes block = FromHex("85e813540f0ab405");
  EXPECT_EQ(Des(key, block, 2), Des(key, block, 1));
  EXPECT_EQ(Des(key, block, -1), Des(key, block, 1));
}

TEST(DesBlock, OutputMayAliasKeyAndInput) {
  const Bytes key = FromHex("3b3898371520f75e");
  const Bytes block = FromHex("0123456789abcdef");
  unsigned char buffer[8];
  std::memcpy(buffer, key.data(), 8);
  des::DesBlock(buffer, block.data(), buffer, 0);
  EXPECT_EQ(ToHex(buffer, 8), ToHex(Des(key, block)));
  std::memcpy(buffer, block.data(), 8);
  des::DesBlock(key.data(), buffer, buffer, 0);
  EXPECT_EQ(ToHex(buffer, 8), ToHex(Des(key, block)));
  std::memcpy(buffer, key.data(), 8);
  des::DesBlock(buffer, buffer, buffer, 0);
  EXPECT_EQ(ToHex(buffer, 8), ToHex(Des(key, key)));
}

// The packed triple DES of a 16-byte cipher key: encrypt under the outer
// key (even-numbered bytes), decrypt under the middle key (odd-numbered),
// encrypt under the outer key; against three single-DES operations.
TEST(TripleDes, IsThreeDesOperationsUnderTheInterleavedKeys) {
  std::mt19937_64 rng(22);
  for (int i = 0; i < 200; ++i) {
    const Bytes key = RandomBytes(rng, 16), block = RandomBytes(rng, 8);
    Bytes outer(8), middle(8);
    for (int b = 0; b < 8; ++b) {
      outer[b] = key[2 * b];
      middle[b] = key[2 * b + 1];
    }
    des::TripleDesSchedule keys;
    des::ScheduleTripleDesKeys(key.data(), keys);
    Bytes out(8), back(8);
    des::StoreBlock(des::TripleDesEncrypt(des::LoadBlock(block.data()), keys), out.data());
    EXPECT_EQ(out, Des(outer, Des(middle, Des(outer, block), 1)));
    des::StoreBlock(des::TripleDesDecrypt(des::LoadBlock(out.data()), keys), back.data());
    EXPECT_EQ(back, block);
  }
}

}  // namespace
}  // namespace compatcrypt::test
