// Every serial DES engine this CPU runs, on its own interface: its key
// schedule against one computed here from the FIPS 46-3 tables, its single
// DES against OpenSSL, and its triple-DES CBC against OpenSSL's
// DES_ede2_cbc_encrypt from any chain value, in place and with the output
// trailing the input. Where the build has no OpenSSL (Windows), the
// portable engine stands in for it. Also the key rule as ReadDesKey
// applies it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "des/block/des_schedule.h"
#include "des/dispatch/des_dispatch.h"
#include "des/tables/des_tables.h"
#if COMPATCRYPT_TEST_OPENSSL_MODELS
#include "support/openssl_models.h"
#endif
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

uint64_t Word(const unsigned char *bytes) {
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | bytes[i];
  return x;
}

// A chain value: the block's bytes as they lie in memory.
uint64_t ChainOf(const unsigned char *bytes) {
  uint64_t x;
  std::memcpy(&x, bytes, sizeof x);
  return x;
}

Bytes BytesOf(uint64_t word) {
  Bytes bytes(8);
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(word >> (56 - 8 * i));
  return bytes;
}

// The schedule as the standard states it, one bit to an array element: PC1
// into C and D, left rotations, PC2; subkey bit 6b + k (0-based) is bit
// 5 - k of byte b.
des::DesSchedule ScheduleFromTables(uint64_t key) {
  std::array<int, 65> bit{};  // 1-based key bits, first = most significant
  for (int i = 1; i <= 64; ++i) bit[i] = static_cast<int>((key >> (64 - i)) & 1);
  std::vector<int> c(28), d(28);
  for (int i = 0; i < 28; ++i) {
    c[i] = bit[des::kPermutedChoice1[i]];
    d[i] = bit[des::kPermutedChoice1[28 + i]];
  }
  des::DesSchedule schedule{};
  for (int r = 0; r < 16; ++r) {
    std::rotate(c.begin(), c.begin() + des::kKeyShifts[r], c.end());
    std::rotate(d.begin(), d.begin() + des::kKeyShifts[r], d.end());
    std::vector<int> cd = c;
    cd.insert(cd.end(), d.begin(), d.end());
    uint64_t word = 0;
    for (int i = 0; i < 48; ++i)
      if (cd[des::kPermutedChoice2[i] - 1]) word |= uint64_t{1} << (8 * (7 - i / 6) + 5 - i % 6);
    schedule.round[r] = word;
  }
  return schedule;
}

// The bytes every engine must give.
#if COMPATCRYPT_TEST_OPENSSL_MODELS
Bytes ReferenceDesBlock(const unsigned char *key, const unsigned char *block, bool decrypt) {
  return ModelDesBlock(key, block, decrypt);
}
Bytes ReferenceTripleCbc(const unsigned char *key, const unsigned char *iv, const Bytes &data, bool decrypt) {
  return ModelTripleCbc(key, iv, data, decrypt);
}
#else
// No OpenSSL for the target: the portable engine, which the FIPS schedule
// test and the NIST vectors check in every build, is the reference.
Bytes ReferenceDesBlock(const unsigned char *key, const unsigned char *block, bool decrypt) {
  des::DesSchedule schedule;
  des::kSerialPortable.schedule(des::ReadDesKey(key), schedule);
  return BytesOf(des::kSerialPortable.crypt(schedule, Word(block), decrypt));
}
Bytes ReferenceTripleCbc(const unsigned char *key, const unsigned char *iv, const Bytes &data, bool decrypt) {
  unsigned char outer[8], middle[8];
  for (int i = 0; i < 8; ++i) {
    outer[i] = key[2 * i];
    middle[i] = key[2 * i + 1];
  }
  des::TripleDesSchedule schedules;
  des::kSerialPortable.schedule(des::ReadDesKey(outer), schedules.outer);
  des::kSerialPortable.schedule(des::ReadDesKey(middle), schedules.middle);
  uint64_t chain = ChainOf(iv);
  Bytes out(data.size());
  (decrypt ? des::kSerialPortable.cbcDecrypt : des::kSerialPortable.cbcEncrypt)(schedules, chain, data.data(),
                                                                                data.size() / 8, out.data());
  return out;
}
#endif

// A DES key of eight random non-zero bytes; with `cut`, one of them zero.
Bytes RandomDesKey(std::mt19937_64 &rng, bool cut) {
  Bytes key = RandomBytes(rng, 8);
  for (auto &byte : key)
    if (byte == 0) byte = 0x3C;
  if (cut) key[rng() % 8] = 0;
  return key;
}

class SerialEngine : public testing::TestWithParam<std::string> {
 protected:
  static const des::SerialDesEngine &Engine() {
    for (const des::SerialDesEngine *engine : des::AvailableSerialEngines())
      if (engine->name == GetParam()) return *engine;
    ADD_FAILURE() << "no engine " << GetParam();
    return *des::AvailableSerialEngines()[0];
  }

  // The engine's schedules of a 16-byte cipher key.
  static des::TripleDesSchedule Schedules(const Bytes &key) {
    unsigned char outer[8], middle[8];
    for (int i = 0; i < 8; ++i) {
      outer[i] = key[2 * i];
      middle[i] = key[2 * i + 1];
    }
    des::TripleDesSchedule schedules;
    Engine().schedule(des::ReadDesKey(outer), schedules.outer);
    Engine().schedule(des::ReadDesKey(middle), schedules.middle);
    return schedules;
  }

  // CBC by the engine from `out` (a copy of `in` placed `lag` bytes before
  // it, so that the output overwrites the input as it goes when lag < 8).
  static Bytes Cbc(const Bytes &key, uint64_t &chain, const Bytes &in, bool decrypt, std::size_t lag) {
    const des::TripleDesSchedule schedules = Schedules(key);
    Bytes buffer(lag + in.size());
    std::copy(in.begin(), in.end(), buffer.begin() + static_cast<std::ptrdiff_t>(lag));
    const auto run = decrypt ? Engine().cbcDecrypt : Engine().cbcEncrypt;
    run(schedules, chain, buffer.data() + lag, in.size() / 8, buffer.data());
    // A copy of the first in.size() bytes rather than resize(): mingw-w64's
    // GCC 12 sees a length that could wrap in resize's growing path and
    // warns (stringop-overflow) although the buffer only shrinks.
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(in.size()));
  }
};

TEST_P(SerialEngine, ScheduleMatchesTheTables) {
  std::mt19937_64 rng(401);
  std::vector<uint64_t> keys = {0, ~uint64_t{0}};
  for (int i = 0; i < 64; ++i) keys.push_back(uint64_t{1} << i);  // each bit's own row, parity bits too
  for (int i = 0; i < 500; ++i) keys.push_back(rng());
  for (const uint64_t key : keys) {
    des::DesSchedule schedule;
    Engine().schedule(key, schedule);
    const des::DesSchedule expected = ScheduleFromTables(key);
    for (int r = 0; r < 16; ++r)
      ASSERT_EQ(schedule.round[r], expected.round[r]) << std::hex << "key " << key << ", subkey " << r + 1;
  }
}

TEST_P(SerialEngine, CryptMatchesReference) {
  std::mt19937_64 rng(402);
  for (int i = 0; i < 3000; ++i) {
    const Bytes key = RandomDesKey(rng, i % 3 == 0);
    const Bytes block = RandomBytes(rng, 8);
    des::DesSchedule schedule;
    Engine().schedule(des::ReadDesKey(key.data()), schedule);
    SCOPED_TRACE(ToHex(key) + " " + ToHex(block));
    ASSERT_EQ(BytesOf(Engine().crypt(schedule, Word(block.data()), false)),
              ReferenceDesBlock(key.data(), block.data(), false));
    ASSERT_EQ(BytesOf(Engine().crypt(schedule, Word(block.data()), true)),
              ReferenceDesBlock(key.data(), block.data(), true));
  }
}

// Every block count from 1 to 40 and a few across several groups (the
// decryption groups blocks, up to 32 at once, so every remainder is
// reached), random chain values, keys with and without a zero byte in
// either half.
TEST_P(SerialEngine, CbcMatchesReference) {
  std::mt19937_64 rng(403);
  std::vector<std::size_t> counts;
  for (std::size_t blocks = 1; blocks <= 40; ++blocks) counts.push_back(blocks);
  for (const std::size_t blocks : {63, 64, 65, 97, 130}) counts.push_back(blocks);
  for (const std::size_t blocks : counts) {
    for (int round = 0; round < 4; ++round) {
      Bytes key = RandomBytes(rng, 16);
      for (auto &byte : key)
        if (byte == 0) byte = 0xC3;
      if (round % 2 == 1) key[rng() % 16] = 0;
      const Bytes iv = RandomBytes(rng, 8);
      const Bytes data = RandomBytes(rng, 8 * blocks);
      SCOPED_TRACE(testing::Message() << blocks << " blocks, key " << ToHex(key) << ", iv " << ToHex(iv));
      for (const bool decrypt : {false, true}) {
        uint64_t chain = ChainOf(iv.data());
        const Bytes out = Cbc(key, chain, data, decrypt, 8);
        ASSERT_EQ(ToHex(out), ToHex(ReferenceTripleCbc(key.data(), iv.data(), data, decrypt))) << decrypt;
        // The chain leaves as the last cipher block.
        const Bytes &cipher = decrypt ? data : out;
        ASSERT_EQ(chain, ChainOf(cipher.data() + 8 * (blocks - 1))) << decrypt;
      }
    }
  }
}

// The output may be the input or trail it by up to 7 bytes.
TEST_P(SerialEngine, CbcOverwritingItsInput) {
  std::mt19937_64 rng(404);
  for (std::size_t lag = 0; lag < 8; ++lag) {
    for (const std::size_t blocks : {1, 2, 3, 4, 5, 9, 17, 33, 40}) {
      const Bytes key = RandomBytes(rng, 16);
      const Bytes iv = RandomBytes(rng, 8);
      const Bytes data = RandomBytes(rng, 8 * blocks);
      for (const bool decrypt : {false, true}) {
        uint64_t chain = ChainOf(iv.data());
        ASSERT_EQ(Cbc(key, chain, data, decrypt, lag),
                  ReferenceTripleCbc(key.data(), iv.data(), data, decrypt))
            << "lag " << lag << ", " << blocks << " blocks, decrypt " << decrypt;
      }
    }
  }
}

TEST_P(SerialEngine, CbcOfNoBlocksWritesNothing) {
  const Bytes key(16, 0x5B);
  const des::TripleDesSchedule schedules = Schedules(key);
  for (const bool decrypt : {false, true}) {
    uint64_t chain = 0x0123456789ABCDEF;
    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    (decrypt ? Engine().cbcDecrypt : Engine().cbcEncrypt)(schedules, chain, out, 0, out);
    EXPECT_EQ(chain, 0x0123456789ABCDEFu);
    EXPECT_EQ(ToHex(out, 8), "eeeeeeeeeeeeeeee");
  }
}

std::vector<std::string> EngineNames() {
  std::vector<std::string> names;
  for (const des::SerialDesEngine *engine : des::AvailableSerialEngines()) names.push_back(engine->name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Engines, SerialEngine, testing::ValuesIn(EngineNames()),
                         [](const testing::TestParamInfo<std::string> &info) { return info.param; });

// The default serial engine: the CPU's features gate the engines, and among
// the round shapes of the top tier a trial decides. Fake timings, so that
// both outcomes are seen on any machine.
std::vector<std::string> trialled;
std::string favoured;

double FakeTrial(const des::SerialDesEngine &engine) {
  trialled.push_back(engine.name);
  return engine.name == favoured ? 1.0 : 2.0;
}

CpuFeatures Vbmi(bool cd) {
  return {FeaturesNamed("sse4.1 avx2 avx512f avx512bw avx512vl avx512vbmi avx512bitalg") |
          (cd ? uint32_t{kAvx512cd} : 0)};
}

TEST(SerialDispatch, TheTrialPicksTheFasterShapeOnACpuThatRunsBoth) {
  const std::vector<std::string> shapes = {"vbmi_planes", "vbmi_broadcast"};
  for (const std::string &faster : shapes) {
    favoured = faster;
    trialled.clear();
    const des::SerialDesEngine &picked = des::PickSerialEngine(Vbmi(true), FakeTrial);
    if (trialled.empty() && std::string(picked.name) == "portable")
      GTEST_SKIP() << "this build holds no VBMI engines (COMPATCRYPT_ENGINE_VBMI off or not x86)";
    EXPECT_EQ(picked.name, faster);
    EXPECT_EQ(trialled, shapes) << "each shape timed once, nothing else";
  }
}

TEST(SerialDispatch, CpuFeaturesGateTheShapesAndNoTrialRunsWithoutATie) {
  favoured = "vbmi_broadcast";
  const struct {
    const char *cpu;
    CpuFeatures features;
  } cases[] = {
      {"no extensions", CpuFeatures{}},
      {"VBMI without CD", Vbmi(false)},
  };
  for (const auto &c : cases) {
    trialled.clear();
    EXPECT_STREQ(des::PickSerialEngine(c.features, FakeTrial).name, "portable") << c.cpu;
    EXPECT_TRUE(trialled.empty()) << c.cpu;
  }
}

// The default is chosen once a process: selecting an engine by name and
// then the default again comes back to it, with no second trial.
TEST(SerialDispatch, TheDefaultStaysWhatTheFirstTrialChose) {
  const des::SerialDesEngine *chosen = &des::ActiveSerialEngine();
  for (const des::SerialDesEngine *engine : des::AvailableSerialEngines()) {
    ASSERT_TRUE(des::UseSerialEngine(engine->name));
    EXPECT_EQ(&des::ActiveSerialEngine(), engine);
    ASSERT_TRUE(des::UseSerialEngine(""));
    EXPECT_EQ(&des::ActiveSerialEngine(), chosen) << "after " << engine->name;
  }
  EXPECT_FALSE(des::UseSerialEngine("vbmi"));  // no engine of that name
}

TEST(ReadDesKey, KeyRule) {
  const struct {
    const char *key;
    uint64_t expected;
  } cases[] = {
      {"0123456789abcdef", 0x0123456789ABCDEF},  // no zero byte: all eight
      {"00ffffffffffffff", 0},                   // a zero first byte: the all-zero key
      {"ff00ffffffffffff", 0xFF00000000000000},  // everything from the zero byte on is zero
      {"1234560011111111", 0x1234560000000000},
      {"ffffffffffffff00", 0xFFFFFFFFFFFFFF00},
      {"0101010101010101", 0x0101010101010101},  // 0x01 is a key byte, not an end
      {"8000800080008000", 0x8000000000000000},  // only the first zero byte matters
      {"0000000000000000", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(des::ReadDesKey(FromHex(c.key).data()), c.expected) << c.key;
  // Only eight bytes are read.
  EXPECT_EQ(des::ReadDesKey(FromHex("0102030405060708ff").data()), 0x0102030405060708u);
}

}  // namespace
}  // namespace compatcrypt::test
