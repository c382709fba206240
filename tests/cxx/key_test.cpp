// Keys: hex parsing and printing, and password keys against KeyGenerating
// and the password-keyed C functions.
#include <array>
#include <string>
#include <string_view>

#include "cxx_test_support.h"

namespace {

using compatcrypt::Key;
using namespace compatcrypt_test;
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
    EXPECT_EQ(error.code(), COMPATCRYPT_FAILED);
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

TEST(HexKeyTest, AcceptsEitherCaseAndPrintsLowerCase) {
  const std::array<std::byte, 16> expected = {
      std::byte{0x00}, std::byte{0x11}, std::byte{0x22}, std::byte{0x33}, std::byte{0x44}, std::byte{0x55},
      std::byte{0x66}, std::byte{0x77}, std::byte{0x88}, std::byte{0x99}, std::byte{0xaa}, std::byte{0xbb},
      std::byte{0xcc}, std::byte{0xdd}, std::byte{0xee}, std::byte{0xff}};
  for (const std::string text : {"00112233445566778899aabbccddeeff", "00112233445566778899AABBCCDDEEFF",
                                 "00112233445566778899aAbBcCdDeEfF"}) {
    SCOPED_TRACE(text);
    const Key key = Key::from_hex(text);
    EXPECT_TRUE(std::equal(key.bytes().begin(), key.bytes().end(), expected.begin()));
    EXPECT_EQ(key.to_hex(), "00112233445566778899aabbccddeeff");
  }
}

// Every byte value survives printing and parsing in both nibbles.
TEST(HexKeyTest, EveryByteValueRoundTrips) {
  for (int start = 0; start < 256; start += 16) {
    std::array<std::byte, 16> bytes{};
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::byte>(start + i);
    const Key key(bytes);
    EXPECT_EQ(compatcrypt::to_hex(bytes), key.to_hex());
    const Key parsed = Key::from_hex(key.to_hex());
    EXPECT_TRUE(std::equal(parsed.bytes().begin(), parsed.bytes().end(), bytes.begin())) << key.to_hex();
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
    std::array<std::byte, 16> expected{};
    int32_t expectedLen = 0;
    ASSERT_EQ(
        KeyGenerating(reinterpret_cast<const unsigned char *>(password.data()),
                      static_cast<int32_t>(password.size()), U(expected), &expectedLen, COMPATCRYPT_MODE),
        COMPATCRYPT_OK);
    const Key key = Key::from_password(password);
    EXPECT_TRUE(std::equal(key.bytes().begin(), key.bytes().end(), expected.begin()));
  }
  // The NUL byte counts: the key differs from that of the bytes before it.
  EXPECT_NE(Key::from_password("pass\0word"s).to_hex(), Key::from_password("pass").to_hex());
}

TEST(PasswordKeyTest, EncodingUnderPasswordKeyEqualsEncodeKey) {
  std::mt19937 rng(3);
  for (const std::string &password : kPasswords) {
    if (password.find('\0') != std::string::npos) continue;
    SCOPED_TRACE(testing::PrintToString(password));
    const Key key = Key::from_password(password);
    for (const std::size_t length : {0u, 5u, 8u, 29u}) {
      const Bytes plain = RandomBytes(length, rng);
      Bytes expected(length);
      const auto *pw = reinterpret_cast<const unsigned char *>(password.c_str());
      ASSERT_EQ(EncodeKey(pw, U(plain), static_cast<int32_t>(length), U(expected), COMPATCRYPT_MODE),
                COMPATCRYPT_OK);
      EXPECT_EQ(compatcrypt::encode(plain, key), expected);
      Bytes decoded(length);
      ASSERT_EQ(DecodeKey(pw, U(expected), static_cast<int32_t>(length), U(decoded), COMPATCRYPT_MODE),
                COMPATCRYPT_OK);
      EXPECT_EQ(compatcrypt::decode(expected, key), decoded);
      EXPECT_EQ(decoded, plain);
    }
  }
}

}  // namespace
