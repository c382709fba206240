// Keys: hex parsing and printing, and password keys against KeyGenerating
// and the password-keyed C functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <string_view>

#include "compatcrypt.hpp"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

using namespace std::string_literals;

struct HexCase {
  const char *what;
  std::string text;
};

class BadHexKeyTest : public testing::TestWithParam<HexCase> {};

TEST_P(BadHexKeyTest, IsRefusedWithFailedCode) {
  try {
    Key::from_hex(GetParam().text);
    ADD_FAILURE() << "accepted \"" << GetParam().text << "\"";
  } catch (const compatcrypt::Error &error) {
    EXPECT_EQ(error.code(), result::failed);
    EXPECT_NE(std::string(error.what()), "");
  }
}

const std::string k32 = "00112233445566778899aabbccddeeff";

INSTANTIATE_TEST_SUITE_P(
    Table, BadHexKeyTest,
    testing::Values(
        HexCase{"empty", ""}, HexCase{"one_digit", "0"}, HexCase{"odd_31", k32.substr(0, 31)},
        HexCase{"odd_33", k32 + "0"}, HexCase{"digits_30", k32.substr(0, 30)},
        HexCase{"digits_34", k32 + "00"}, HexCase{"digits_64", k32 + k32},
        HexCase{"letter_g_first", "g" + k32.substr(1)}, HexCase{"letter_G_last", k32.substr(0, 31) + "G"},
        HexCase{"letter_z_middle", k32.substr(0, 16) + "z" + k32.substr(17)},
        HexCase{"prefix_0x", "0x" + k32.substr(2)}, HexCase{"prefix_0x_34", "0x" + k32},
        HexCase{"leading_space", " " + k32.substr(1)}, HexCase{"trailing_space", k32.substr(1) + " "},
        HexCase{"inner_space", k32.substr(0, 10) + " " + k32.substr(11)}, HexCase{"space_added", k32 + " "},
        HexCase{"newline_added", k32.substr(1) + "\n"},
        HexCase{"tab_inside", k32.substr(0, 5) + "\t" + k32.substr(6)},
        HexCase{"colons", "00:11:22:33:44:55:66:77:88:99:aa"}, HexCase{"minus_sign", "-" + k32.substr(1)},
        HexCase{"nul_byte", k32.substr(0, 20) + "\0"s + k32.substr(21)},
        HexCase{"high_byte", k32.substr(0, 30) + "\xc3\xa9"}, HexCase{"all_spaces", std::string(32, ' ')}),
    [](const testing::TestParamInfo<HexCase> &info) { return std::string(info.param.what); });

// The key bytes are the hex text read two digits per byte, first byte first.
TEST(HexKeyTest, AcceptsEitherCaseAndPrintsLowerCase) {
  const Bytes expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                          0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  for (const std::string text : {"00112233445566778899aabbccddeeff", "00112233445566778899AABBCCDDEEFF",
                                 "00112233445566778899aAbBcCdDeEfF"}) {
    SCOPED_TRACE(text);
    const Key key = Key::from_hex(text);
    EXPECT_EQ(ToBytes(key.bytes()), expected);
    EXPECT_EQ(key.to_hex(), "00112233445566778899aabbccddeeff");
  }
}

// Every byte value survives printing and parsing in both nibbles.
TEST(HexKeyTest, EveryByteValueRoundTrips) {
  for (int start = 0; start < 256; start += 16) {
    std::array<std::byte, 16> bytes{};
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::byte>(start + i);
    const Key key(bytes);
    EXPECT_EQ(compatcrypt::to_hex(bytes), ToHex(bytes));
    EXPECT_EQ(key.to_hex(), ToHex(bytes));
    const Key parsed = Key::from_hex(key.to_hex());
    EXPECT_EQ(ToBytes(parsed.bytes()), ToBytes(bytes)) << key.to_hex();
  }
}

// Passwords around the fill rule (shorter than seven bytes), the fold
// (longer than eight), high bytes whose top bit the fold drops, and a NUL
// byte, which from_password keeps (exact byte count) but EncodeKey cannot.
const std::string kPasswords[] = {""s,          "a"s,         "secret"s,           "seven77"s,
                                  "eight888"s,  "nine99999"s, "\xff\x80\x7f\x01"s, std::string(1000, 'q'),
                                  "pass\0word"s};

TEST(PasswordKeyTest, EqualsKeyGeneratingOverTheExactBytes) {
  for (const std::string &password : kPasswords) {
    SCOPED_TRACE(testing::PrintToString(password));
    EXPECT_EQ(ToBytes(Key::from_password(password).bytes()), CKey(password));
  }
  // The NUL byte counts: the key differs from that of the bytes before it.
  EXPECT_NE(Key::from_password("pass\0word"s).to_hex(), Key::from_password("pass").to_hex());
}

TEST(PasswordKeyTest, EncodingUnderPasswordKeyEqualsEncodeKey) {
  std::mt19937_64 rng(3);
  for (const std::string &password : kPasswords) {
    if (password.find('\0') != std::string::npos) continue;
    SCOPED_TRACE(testing::PrintToString(password));
    const Key key = Key::from_password(password);
    for (const std::size_t length : {0u, 5u, 8u, 29u}) {
      const ByteVector plain = RandomBytes<std::byte>(rng, length);
      const Bytes expected = CEncodeKey(password, plain);
      EXPECT_EQ(ToBytes(compatcrypt::encode(plain, key)), expected);
      const Bytes decoded = CDecodeKey(password, expected);
      EXPECT_EQ(ToBytes(compatcrypt::decode(ToByteVector(expected), key)), decoded);
      EXPECT_EQ(decoded, ToBytes(plain));
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test
