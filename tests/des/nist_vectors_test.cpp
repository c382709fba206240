// DES and two-key triple DES against the published single-DES worked example
// and the NIST CAVP triple-DES known-answer and multi-block sets
// (tests/data/tdes, CAVS 11.1: TCBC*.rsp from the KAT files, TCBCMMT2 and
// TECBMMT2 from the Multi-block Message Test; see SOURCE.md there).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "compatcrypt.h"
#include "des/modes/triple_des.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

struct Record {
  bool encrypt;
  std::map<std::string, std::string> fields;
  Bytes Get(const std::string &name) const { return FromHex(fields.at(name)); }
};

// Reads the [ENCRYPT] and [DECRYPT] records of a CAVP response file.
std::vector<Record> ReadRecords(const std::string &file) {
  std::ifstream in(std::string(COMPATCRYPT_TEST_DATA_DIR) + "/tdes/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<Record> records;
  bool encrypt = true;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "[ENCRYPT]" || line == "[DECRYPT]") {
      encrypt = line == "[ENCRYPT]";
      continue;
    }
    const auto eq = line.find(" = ");
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq);
    if (name == "COUNT")
      records.push_back({encrypt, {}});
    else if (!records.empty())
      records.back().fields[name] = line.substr(eq + 3);
  }
  return records;
}

// The library's 16-byte key: the outer key on the even bytes, the middle
// key on the odd ones.
Bytes Interleave(const Bytes &outer, const Bytes &middle) {
  Bytes key(16);
  for (int i = 0; i < 8; ++i) {
    key[2 * i] = outer[i];
    key[2 * i + 1] = middle[i];
  }
  return key;
}

Bytes Code(bool encrypt, const Bytes &data, const Bytes &key) {
  return encrypt ? CEncode(data, key) : CDecode(data, key);
}

// The single-DES worked example published with many descriptions of DES
// (key 133457799bbcdff1); OpenSSL's DES gives the same cipher block.
TEST(DesBlock, PublishedWorkedExample) {
  const Bytes key = FromHex("133457799bbcdff1");
  const Bytes plain = FromHex("0123456789abcdef");
  unsigned char out[8], back[8];
  des::DesBlock(key.data(), plain.data(), out, 0);
  EXPECT_EQ(ToHex(out, 8), "85e813540f0ab405");
  des::DesBlock(key.data(), out, back, 1);
  EXPECT_EQ(ToHex(back, 8), "0123456789abcdef");
}

// The single-key sets: E(K, D(K, E(K, x))) is E(K, x), so each record is a
// single-DES known answer for DesBlock and, with the key on both halves,
// for the exports.
class SingleKeySets : public ::testing::TestWithParam<const char *> {};

TEST_P(SingleKeySets, DesBlockAndExportsMatch) {
  const auto records = ReadRecords(GetParam());
  ASSERT_FALSE(records.empty());
  for (const auto &r : records) {
    const Bytes key = r.Get("KEYs");
    const Bytes plain = r.Get("PLAINTEXT");
    const Bytes cipher = r.Get("CIPHERTEXT");
    SCOPED_TRACE(testing::Message() << (r.encrypt ? "encrypt " : "decrypt ") << ToHex(key));
    unsigned char out[8];
    if (r.encrypt) {
      des::DesBlock(key.data(), plain.data(), out, 0);
      EXPECT_EQ(ToHex(out, 8), ToHex(cipher));
      EXPECT_EQ(Code(true, plain, Interleave(key, key)), cipher);
    } else {
      des::DesBlock(key.data(), cipher.data(), out, 1);
      EXPECT_EQ(ToHex(out, 8), ToHex(plain));
      EXPECT_EQ(Code(false, cipher, Interleave(key, key)), plain);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cavp, SingleKeySets,
                         ::testing::Values("TCBCvarkey.rsp", "TCBCvartext.rsp", "TCBCinvperm.rsp",
                                           "TCBCpermop.rsp", "TCBCsubtab.rsp"),
                         [](const auto &info) { return std::string(info.param).substr(0, 10); });

// Keying option 2 in CBC with a random IV: CBC from IV v over P equals the
// library's zero-IV chaining over P with v folded into the first block.
TEST(TwoKeyCbc, MultiBlockMessages) {
  const auto records = ReadRecords("TCBCMMT2.rsp");
  ASSERT_EQ(records.size(), 20u);
  for (const auto &r : records) {
    ASSERT_EQ(r.fields.at("KEY1"), r.fields.at("KEY3"));
    const Bytes key = Interleave(r.Get("KEY1"), r.Get("KEY2"));
    const Bytes iv = r.Get("IV");
    Bytes plain = r.Get("PLAINTEXT");
    Bytes cipher = r.Get("CIPHERTEXT");
    SCOPED_TRACE(testing::Message() << (r.encrypt ? "encrypt " : "decrypt ") << plain.size() << " bytes");
    if (r.encrypt) {
      for (int i = 0; i < 8; ++i) plain[i] ^= iv[i];
      EXPECT_EQ(ToHex(Code(true, plain, key)), ToHex(cipher));
    } else {
      Bytes decoded = Code(false, cipher, key);
      for (int i = 0; i < 8; ++i) decoded[i] ^= iv[i];
      EXPECT_EQ(ToHex(decoded), ToHex(plain));
    }
  }
}

// ECB records: each block on its own is an 8-byte input to the exports.
TEST(TwoKeyEcb, EveryBlock) {
  const auto records = ReadRecords("TECBMMT2.rsp");
  ASSERT_EQ(records.size(), 20u);
  for (const auto &r : records) {
    const Bytes key = Interleave(r.Get("KEY1"), r.Get("KEY2"));
    const Bytes plain = r.Get("PLAINTEXT");
    const Bytes cipher = r.Get("CIPHERTEXT");
    for (std::size_t b = 0; b < plain.size(); b += 8) {
      const Bytes p(plain.begin() + b, plain.begin() + b + 8);
      const Bytes c(cipher.begin() + b, cipher.begin() + b + 8);
      EXPECT_EQ(r.encrypt ? Code(true, p, key) : Code(false, c, key), r.encrypt ? c : p);
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test
