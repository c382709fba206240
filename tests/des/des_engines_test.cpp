// Every DES engine this CPU runs, against the OpenSSL model of the format
// (where the build has no OpenSSL, as for Windows, against the portable
// engines):
// each serial engine under the default bitsliced route, and each bitsliced
// engine forced onto every run of independent blocks, however short (so a
// pass of one block and every partly filled pass are covered), under each
// serial engine. Keys are random with zero bytes injected (the key rule);
// lengths run 0 to 300, cross pass boundaries, reach 1 MiB, and are coded
// in place as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"
#include "des/format/batch_codec.h"
#include "des/modes/triple_des.h"
#if COMPATCRYPT_TEST_OPENSSL_MODELS
#include "support/openssl_models.h"
#endif
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

struct EngineChoice {
  std::string serial;
  std::string bitslice;  // empty: the default route; "serial": no bitsliced engine
};

std::vector<EngineChoice> Choices() {
  std::vector<EngineChoice> choices;
  for (const des::SerialDesEngine *serial : des::AvailableSerialEngines()) {
    choices.push_back({serial->name, ""});
    choices.push_back({serial->name, "serial"});
    for (const des::BitsliceDesEngine *bitslice : des::AvailableBitsliceEngines())
      choices.push_back({serial->name, bitslice->name});
  }
  return choices;
}

// The engines under test, for the reference to come back to.
EngineChoice underTest;

void UseEngines(const EngineChoice &choice) {
  ASSERT_TRUE(des::UseSerialEngine(choice.serial));
  ASSERT_TRUE(des::UseBitsliceEngine(choice.bitslice));
}

// The bytes every engine must give.
#if COMPATCRYPT_TEST_OPENSSL_MODELS
Bytes ReferenceEncode(const Bytes &data, const Bytes &key) { return ModelEncode(data, key.data()); }
Bytes ReferenceDecode(const Bytes &data, const Bytes &key) { return ModelDecode(data, key.data()); }
Bytes ReferencePasswordKey(const Bytes &password) { return ModelPasswordKey(password); }
#else
// No OpenSSL for the target: the portable serial engine with every run
// serial, which the NIST vectors check in every build, is the reference.
template <typename Run>
Bytes OnPortableEngines(Run run) {
  UseEngines({"portable", "serial"});
  Bytes result = run();
  UseEngines(underTest);
  return result;
}
Bytes ReferenceEncode(const Bytes &data, const Bytes &key) {
  return OnPortableEngines([&] { return CEncode(data, key); });
}
Bytes ReferenceDecode(const Bytes &data, const Bytes &key) {
  return OnPortableEngines([&] { return CDecode(data, key); });
}
Bytes ReferencePasswordKey(const Bytes &password) {
  return OnPortableEngines([&] { return CKey(password); });
}
#endif

// Engines are chosen for the whole process; each test restores the default.
class DesEngines : public testing::TestWithParam<EngineChoice> {
 protected:
  void SetUp() override {
    underTest = GetParam();
    UseEngines(underTest);
  }
  void TearDown() override {
    des::UseSerialEngine("");
    des::UseBitsliceEngine("");
  }
  // Blocks a pass of the bitsliced engine in use takes.
  static std::size_t Lanes() { return des::ActiveBitsliceEngine().lanes; }
};

// A key of `size` bytes (the C functions read the first 16 of a longer
// one); a third of them get a zero byte in one half of the first 16.
Bytes RandomKey(std::mt19937_64 &rng, std::size_t size = 16) {
  Bytes key = RandomBytes(rng, size);
  for (auto &byte : key)
    if (byte == 0) byte = 0xA5;
  if (rng() % 3 == 0) key[rng() % 16] = 0;
  return key;
}

void ExpectMatchesModel(std::mt19937_64 &rng, std::size_t size, std::size_t keySize = 16) {
  const Bytes key = RandomKey(rng, keySize);
  const Bytes plain = RandomBytes(rng, size);
  SCOPED_TRACE(testing::Message() << size << " bytes, key " << ToHex(key));
  const Bytes encoded = CEncode(plain, key);
  ASSERT_EQ(encoded, ReferenceEncode(plain, key));
  ASSERT_EQ(CDecode(encoded, key), plain);
  const Bytes noise = RandomBytes(rng, size);  // bytes no encoding produced
  ASSERT_EQ(CDecode(noise, key), ReferenceDecode(noise, key));
}

TEST_P(DesEngines, EveryLengthUpTo300) {
  std::mt19937_64 rng(301);
  const std::size_t keySizes[] = {16, 17, 40};
  for (std::size_t size = 0; size <= 300; ++size) ExpectMatchesModel(rng, size, keySizes[size % 3]);
}

TEST_P(DesEngines, AroundPassBoundariesAndTheCrossover) {
  std::mt19937_64 rng(302);
  const std::size_t lanes = Lanes();
  const std::size_t crossover = des::BitsliceCrossover();
  std::vector<std::size_t> blocks;
  if (crossover <= lanes) blocks = {crossover - 1, crossover, crossover + 1};  // not when all runs are serial
  for (std::size_t passes = 1; passes <= 3; ++passes)
    for (std::size_t b : {passes * lanes - 1, passes * lanes, passes * lanes + 1}) blocks.push_back(b);
  for (std::size_t b : blocks)
    for (std::size_t tail : {0, 5}) ExpectMatchesModel(rng, 8 * b + tail);
}

TEST_P(DesEngines, OneMebibyteWithTail) {
  std::mt19937_64 rng(303);
  ExpectMatchesModel(rng, (1 << 20) + 3);
}

// Coding in place equals coding into a separate buffer.
TEST_P(DesEngines, InPlace) {
  std::mt19937_64 rng(304);
  const std::size_t lanes = Lanes();
  for (std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{9}, std::size_t{100},
                           8 * lanes - 3, 8 * lanes, 8 * lanes + 8, 16 * lanes + 13}) {
    const Bytes key = RandomKey(rng);
    const Bytes plain = RandomBytes(rng, size);
    const Bytes encoded = ReferenceEncode(plain, key);
    Bytes buffer = plain;
    ASSERT_EQ(EncodeFunction(buffer.data(), Len(buffer), key.data(), 16, buffer.data(), COMPATCRYPT_MODE),
              COMPATCRYPT_OK);
    ASSERT_EQ(buffer, encoded) << size;
    ASSERT_EQ(DecodeFunction(buffer.data(), Len(buffer), key.data(), 16, buffer.data(), COMPATCRYPT_MODE),
              COMPATCRYPT_OK);
    ASSERT_EQ(buffer, plain) << size;
  }
}

// The password keys run the serial engine's single DES and schedules.
TEST_P(DesEngines, PasswordKeysMatchModel) {
  std::mt19937_64 rng(305);
  for (std::size_t size = 0; size <= 20; ++size) {
    Bytes password = RandomBytes(rng, size);
    ASSERT_EQ(CKey(password), ReferencePasswordKey(password)) << ToHex(password);
  }
}

// Batches: buffers of mixed sizes (empty, 1 to 7 bytes, with and without
// tails, longer than others in their group) coded apart and in place, each
// against the model of the format.
struct BatchCase {
  std::vector<Bytes> plain;
  std::vector<Bytes> encoded;  // by the model
};

BatchCase MakeBatch(std::mt19937_64 &rng, const Bytes &key, std::size_t count, std::size_t maxSize) {
  BatchCase batch;
  std::uniform_int_distribution<std::size_t> size(0, maxSize);
  for (std::size_t i = 0; i < count; ++i) {
    // Every tenth buffer is much longer, so chains outlast their group.
    const std::size_t n = i % 10 == 3 ? 8 * maxSize + i % 8 : size(rng);
    batch.plain.push_back(RandomBytes(rng, n));
    batch.encoded.push_back(ReferenceEncode(batch.plain.back(), key));
  }
  return batch;
}

std::vector<des::BatchBuffer> Views(const std::vector<Bytes> &in, std::vector<Bytes> &out) {
  std::vector<des::BatchBuffer> views;
  for (std::size_t i = 0; i < in.size(); ++i) views.push_back({in[i].data(), out[i].data(), in[i].size()});
  return views;
}

TEST_P(DesEngines, BatchesMatchModelApartAndInPlace) {
  std::mt19937_64 rng(306);
  const std::size_t lanes = Lanes();
  for (std::size_t count : {std::size_t{1}, std::size_t{5}, lanes - 1, lanes + 7}) {
    const Bytes key = RandomKey(rng);
    des::TripleDesSchedule keys;
    des::ScheduleTripleDesKeys(key.data(), keys);
    const BatchCase batch = MakeBatch(rng, key, count, 40);
    SCOPED_TRACE(testing::Message() << count << " buffers, key " << ToHex(key));

    std::vector<Bytes> out(count);
    for (std::size_t i = 0; i < count; ++i) out[i].assign(batch.plain[i].size(), 0xEE);
    des::EncodeBatch(keys, Views(batch.plain, out));
    ASSERT_EQ(out, batch.encoded);
    std::vector<Bytes> back(count);
    for (std::size_t i = 0; i < count; ++i) back[i].assign(out[i].size(), 0xEE);
    des::DecodeBatch(keys, Views(out, back));
    ASSERT_EQ(back, batch.plain);

    std::vector<Bytes> buffers = batch.plain;
    des::EncodeBatch(keys, Views(buffers, buffers));
    ASSERT_EQ(buffers, batch.encoded);
    des::DecodeBatch(keys, Views(buffers, buffers));
    ASSERT_EQ(buffers, batch.plain);
  }
}

std::string ChoiceName(const testing::TestParamInfo<EngineChoice> &info) {
  std::string name = info.param.serial + "_" + (info.param.bitslice.empty() ? "route" : info.param.bitslice);
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Engines, DesEngines, testing::ValuesIn(Choices()), ChoiceName);

}  // namespace
}  // namespace compatcrypt::test
