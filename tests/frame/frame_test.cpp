// The frame shared by the seven exports: a mode other than 1 returns -1 and
// touches nothing (not even through null pointers); null pointers where
// bytes would be read or written become the export's failure code.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "compatcrypt.h"
#include "frame/frame.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

constexpr uint32_t kBadModes[] = {0u, 2u, 16u, 0xFFFFFFFFu};

struct Buffers {
  unsigned char data[32];
  unsigned char key[16];
  unsigned char out[32];
  int32_t outLen = 4321;
  Buffers() {
    for (int i = 0; i < 32; ++i) data[i] = static_cast<unsigned char>(i + 1);
    for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(0x31 + i);
    for (auto &b : out) b = 0xA5;
  }
  bool Untouched() const {
    for (auto b : out)
      if (b != 0xA5) return false;
    return outLen == 4321;
  }
};

using Call = std::function<int32_t(Buffers &, uint32_t mode, bool nulls)>;

struct ExportCase {
  std::string name;
  Call call;
};

std::vector<ExportCase> AllExports() {
  auto p = [](auto *ptr, bool nulls) { return nulls ? nullptr : ptr; };
  const unsigned char *path = reinterpret_cast<const unsigned char *>("/");
  const unsigned char *password = reinterpret_cast<const unsigned char *>("secret");
  return {
      {"EncodeFunction",
       [=](Buffers &b, uint32_t m, bool n) { return EncodeFunction(p(b.data, n), 32, p(b.key, n), 16, p(b.out, n), m); }},
      {"DecodeFunction",
       [=](Buffers &b, uint32_t m, bool n) { return DecodeFunction(p(b.data, n), 32, p(b.key, n), 16, p(b.out, n), m); }},
      {"MessageDigest",
       [=](Buffers &b, uint32_t m, bool n) { return MessageDigest(p(b.data, n), 32, p(b.out, n), p(&b.outLen, n), m); }},
      {"FileDigest",
       [=](Buffers &b, uint32_t m, bool n) { return FileDigest(p(path, n), 0, p(b.out, n), p(&b.outLen, n), m); }},
      {"KeyGenerating",
       [=](Buffers &b, uint32_t m, bool n) { return KeyGenerating(p(b.data, n), 8, p(b.out, n), p(&b.outLen, n), m); }},
      {"EncodeKey", [=](Buffers &b, uint32_t m, bool n) { return EncodeKey(p(password, n), p(b.data, n), 32, p(b.out, n), m); }},
      {"DecodeKey", [=](Buffers &b, uint32_t m, bool n) { return DecodeKey(p(password, n), p(b.data, n), 32, p(b.out, n), m); }},
  };
}

TEST(Frame, WrongModeTouchesNothing) {
  for (const auto &e : AllExports()) {
    for (uint32_t mode : kBadModes) {
      for (bool nulls : {false, true}) {
        SCOPED_TRACE(testing::Message() << e.name << " mode " << mode << (nulls ? " null pointers" : ""));
        Buffers b;
        EXPECT_EQ(e.call(b, mode, nulls), -1);
        EXPECT_TRUE(b.Untouched());
      }
    }
  }
}

TEST(Frame, NullPointersBecomeFailureCodes) {
  const std::map<std::string, int32_t> expected = {
      {"EncodeFunction", -3}, {"DecodeFunction", -3}, {"MessageDigest", -3}, {"FileDigest", -2},
      {"KeyGenerating", -3},  {"EncodeKey", -2},      {"DecodeKey", -2},
  };
  for (const auto &e : AllExports()) {
    SCOPED_TRACE(e.name);
    Buffers b;
    EXPECT_EQ(e.call(b, 1, true), expected.at(e.name));
  }
}

TEST(Frame, SuccessReturnsOne) {
  for (const auto &e : AllExports()) {
    if (e.name == "FileDigest") continue;  // "/" is a directory: covered by the file tests
    SCOPED_TRACE(e.name);
    Buffers b;
    EXPECT_EQ(e.call(b, 1, false), 1);
  }
}

// Each null pointer on its own, with the other arguments valid.
TEST(Frame, EachNullPointerAlone) {
  Buffers b;
  int32_t len = 0;
  EXPECT_EQ(MessageDigest(nullptr, 1, b.out, &len, 1), -3);
  EXPECT_EQ(MessageDigest(b.data, 1, nullptr, &len, 1), -3);
  EXPECT_EQ(MessageDigest(b.data, 1, b.out, nullptr, 1), -3);
  EXPECT_EQ(EncodeFunction(b.data, 8, nullptr, 16, b.out, 1), -3);
  EXPECT_EQ(EncodeFunction(nullptr, 8, b.key, 16, b.out, 1), -3);
  EXPECT_EQ(DecodeFunction(b.data, 8, b.key, 16, nullptr, 1), -3);
  EXPECT_EQ(KeyGenerating(nullptr, 3, b.out, &len, 1), -3);
  EXPECT_EQ(KeyGenerating(b.data, 3, nullptr, &len, 1), -3);
  EXPECT_EQ(KeyGenerating(b.data, 3, b.out, nullptr, 1), -3);
  EXPECT_EQ(EncodeKey(reinterpret_cast<const unsigned char *>("pw"), nullptr, 8, b.out, 1), -2);
  EXPECT_EQ(DecodeKey(reinterpret_cast<const unsigned char *>("pw"), b.data, 8, nullptr, 1), -2);
  // With nothing to read, a null buffer is never looked at.
  EXPECT_EQ(KeyGenerating(nullptr, 0, b.out, &len, 1), 1);
  EXPECT_EQ(KeyGenerating(nullptr, -5, b.out, &len, 1), 1);
  EXPECT_EQ(EncodeFunction(nullptr, 0, b.key, 16, nullptr, 1), 1);
  EXPECT_EQ(DecodeFunction(nullptr, -1, b.key, 16, nullptr, 1), 1);
  EXPECT_EQ(EncodeKey(reinterpret_cast<const unsigned char *>("pw"), nullptr, 0, nullptr, 1), 1);
}

TEST(Frame, NegativeDigestLengthIsRefusedBeforeReading) {
  unsigned char out[20];
  int32_t len = 99;
  EXPECT_EQ(MessageDigest(nullptr, -1, out, &len, 1), -3);
  EXPECT_EQ(MessageDigest(nullptr, INT32_MIN, out, &len, 1), -3);
  EXPECT_EQ(len, 99);
}

TEST(Frame, ModeIsCheckedBeforeTheKeyLength) {
  Buffers b;
  EXPECT_EQ(EncodeFunction(b.data, 8, b.key, 15, b.out, 2), -1);
  EXPECT_EQ(EncodeFunction(b.data, 8, b.key, 15, b.out, 1), -2);
  EXPECT_EQ(DecodeFunction(nullptr, 8, nullptr, 0, nullptr, 1), -2);
  EXPECT_EQ(EncodeFunction(b.data, 8, b.key, -16, b.out, 1), -2);
  EXPECT_TRUE(b.Untouched());
}

// The backstop: whatever the work throws becomes the export's failure code
// and leaves nothing to propagate.
TEST(Frame, BackstopTurnsAnyExceptionIntoTheFailureCode) {
  EXPECT_EQ(frame::Run(-3, []() -> int32_t { throw std::runtime_error("x"); }), -3);
  EXPECT_EQ(frame::Run(-2, []() -> int32_t { throw 42; }), -2);
  EXPECT_EQ(frame::Run(-3, [] { return 1; }), 1);
}

}  // namespace
}  // namespace compatcrypt::test
