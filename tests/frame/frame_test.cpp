// The frame shared by the seven exports: a mode other than 1 returns -1 and
// touches nothing (not even through null pointers); a null pointer where
// bytes would be read or written becomes the export's failure code and
// leaves the other outputs alone.
#include "frame/frame.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

constexpr uint32_t kBadModes[] = {0u, 2u, 16u, 0xFFFFFFFFu};
constexpr unsigned char kUntouched = 0xA5;
constexpr int32_t kUntouchedLen = 4321;

// Valid arguments for every export; each pointer may be swapped for null.
struct Buffers {
  unsigned char data[32];
  unsigned char key[16];
  unsigned char out[32];
  int32_t outLen = kUntouchedLen;
  std::string path;  // a readable file unless a case says otherwise
  std::string password = "secret";
  Buffers() {
    for (int i = 0; i < 32; ++i) data[i] = static_cast<unsigned char>(i + 1);
    for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(0x31 + i);
    for (auto &b : out) b = kUntouched;
  }
  bool OutUntouched() const {
    for (auto b : out)
      if (b != kUntouched) return false;
    return true;
  }
  bool Untouched() const { return OutUntouched() && outLen == kUntouchedLen; }
};

// The pointer arguments of the exports.
enum class Pointer { kNone, kData, kKey, kOut, kOutLen, kPath, kPassword };

const char *Name(Pointer p) {
  switch (p) {
    case Pointer::kNone:
      return "none";
    case Pointer::kData:
      return "data";
    case Pointer::kKey:
      return "key";
    case Pointer::kOut:
      return "out";
    case Pointer::kOutLen:
      return "outLen";
    case Pointer::kPath:
      return "path";
    case Pointer::kPassword:
      return "password";
  }
  return "?";
}

// Calls an export with `nulled` (or, with `allNull`, every pointer) null.
using Call = std::function<int32_t(Buffers &, uint32_t mode, Pointer nulled, bool allNull)>;

template <typename T>
T *Maybe(T *pointer, Pointer which, Pointer nulled, bool allNull) {
  return allNull || which == nulled ? nullptr : pointer;
}

struct Export {
  std::string name;
  Call call;
};

std::vector<Export> AllExports() {
  using P = Pointer;
  auto u = [](const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); };
  return {
      {"EncodeFunction",
       [](Buffers &b, uint32_t m, P n, bool all) {
         return EncodeFunction(Maybe(b.data, P::kData, n, all), 32, Maybe(b.key, P::kKey, n, all), 16,
                               Maybe(b.out, P::kOut, n, all), m);
       }},
      {"DecodeFunction",
       [](Buffers &b, uint32_t m, P n, bool all) {
         return DecodeFunction(Maybe(b.data, P::kData, n, all), 32, Maybe(b.key, P::kKey, n, all), 16,
                               Maybe(b.out, P::kOut, n, all), m);
       }},
      {"MessageDigest",
       [](Buffers &b, uint32_t m, P n, bool all) {
         return MessageDigest(Maybe(b.data, P::kData, n, all), 32, Maybe(b.out, P::kOut, n, all),
                              Maybe(&b.outLen, P::kOutLen, n, all), m);
       }},
      {"FileDigest",
       [u](Buffers &b, uint32_t m, P n, bool all) {
         return FileDigest(Maybe(u(b.path), P::kPath, n, all), 0, Maybe(b.out, P::kOut, n, all),
                           Maybe(&b.outLen, P::kOutLen, n, all), m);
       }},
      {"KeyGenerating",
       [u](Buffers &b, uint32_t m, P n, bool all) {
         return KeyGenerating(Maybe(u(b.password), P::kPassword, n, all), 6, Maybe(b.out, P::kOut, n, all),
                              Maybe(&b.outLen, P::kOutLen, n, all), m);
       }},
      {"EncodeKey",
       [u](Buffers &b, uint32_t m, P n, bool all) {
         return EncodeKey(Maybe(u(b.password), P::kPassword, n, all), Maybe(b.data, P::kData, n, all), 32,
                          Maybe(b.out, P::kOut, n, all), m);
       }},
      {"DecodeKey",
       [u](Buffers &b, uint32_t m, P n, bool all) {
         return DecodeKey(Maybe(u(b.password), P::kPassword, n, all), Maybe(b.data, P::kData, n, all), 32,
                          Maybe(b.out, P::kOut, n, all), m);
       }},
  };
}

const Export &Find(const std::vector<Export> &exports, const std::string &name) {
  for (const Export &e : exports)
    if (e.name == name) return e;
  throw std::invalid_argument("no export " + name);
}

class Frame : public ::testing::Test {
 protected:
  Buffers Prepared() const {
    Buffers b;
    b.path = file_.string();
    return b;
  }
  TempDir dir_;
  const std::filesystem::path file_ = dir_.Write("file.bin", Bytes(100, 0x42));
};

TEST_F(Frame, WrongModeTouchesNothing) {
  for (const auto &e : AllExports()) {
    for (uint32_t mode : kBadModes) {
      for (bool nulls : {false, true}) {
        SCOPED_TRACE(testing::Message() << e.name << " mode " << mode << (nulls ? " null pointers" : ""));
        Buffers b = Prepared();
        EXPECT_EQ(e.call(b, mode, Pointer::kNone, nulls), -1);
        EXPECT_TRUE(b.Untouched());
      }
    }
  }
}

TEST_F(Frame, SuccessReturnsOne) {
  for (const auto &e : AllExports()) {
    SCOPED_TRACE(e.name);
    Buffers b = Prepared();
    EXPECT_EQ(e.call(b, 1, Pointer::kNone, false), 1);
    EXPECT_FALSE(b.OutUntouched());
  }
}

// Every pointer argument of every export, null on its own with the others
// valid: the export's code for it, and nothing written through the valid
// outputs. FileDigest tries the file first: with a missing file a null
// `out` or `outLen` is the file's -2, with a readable one it is -3.
TEST_F(Frame, EachNullPointerGivesItsCodeAndWritesNothing) {
  enum class File { kReadable, kMissing };
  const struct Case {
    const char *exportName;
    Pointer nulled;
    File file;
    int32_t expected;
  } cases[] = {
      {"EncodeFunction", Pointer::kData, File::kReadable, -3},
      {"EncodeFunction", Pointer::kKey, File::kReadable, -3},
      {"EncodeFunction", Pointer::kOut, File::kReadable, -3},
      {"DecodeFunction", Pointer::kData, File::kReadable, -3},
      {"DecodeFunction", Pointer::kKey, File::kReadable, -3},
      {"DecodeFunction", Pointer::kOut, File::kReadable, -3},
      {"MessageDigest", Pointer::kData, File::kReadable, -3},
      {"MessageDigest", Pointer::kOut, File::kReadable, -3},
      {"MessageDigest", Pointer::kOutLen, File::kReadable, -3},
      {"FileDigest", Pointer::kPath, File::kReadable, -2},
      {"FileDigest", Pointer::kOut, File::kReadable, -3},
      {"FileDigest", Pointer::kOutLen, File::kReadable, -3},
      {"FileDigest", Pointer::kPath, File::kMissing, -2},
      {"FileDigest", Pointer::kOut, File::kMissing, -2},
      {"FileDigest", Pointer::kOutLen, File::kMissing, -2},
      {"KeyGenerating", Pointer::kPassword, File::kReadable, -3},
      {"KeyGenerating", Pointer::kOut, File::kReadable, -3},
      {"KeyGenerating", Pointer::kOutLen, File::kReadable, -3},
      {"EncodeKey", Pointer::kPassword, File::kReadable, -2},
      {"EncodeKey", Pointer::kData, File::kReadable, -2},
      {"EncodeKey", Pointer::kOut, File::kReadable, -2},
      {"DecodeKey", Pointer::kPassword, File::kReadable, -2},
      {"DecodeKey", Pointer::kData, File::kReadable, -2},
      {"DecodeKey", Pointer::kOut, File::kReadable, -2},
  };
  const std::vector<Export> exports = AllExports();
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.exportName << " with null " << Name(c.nulled)
                                    << (c.file == File::kMissing ? ", missing file" : ""));
    Buffers b = Prepared();
    if (c.file == File::kMissing) b.path = (dir_.path() / "missing").string();
    EXPECT_EQ(Find(exports, c.exportName).call(b, 1, c.nulled, false), c.expected);
    EXPECT_TRUE(b.OutUntouched()) << "wrote through out";
    EXPECT_EQ(b.outLen, kUntouchedLen) << "wrote through outLen";
  }
}

// With nothing to read, a null buffer is never looked at.
TEST(FrameLengths, NothingToReadNeedsNoBuffer) {
  Buffers b;
  int32_t len = 0;
  EXPECT_EQ(KeyGenerating(nullptr, 0, b.out, &len, 1), 1);
  EXPECT_EQ(len, 16);
  len = 0;
  EXPECT_EQ(KeyGenerating(nullptr, -5, b.out, &len, 1), 1);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(MessageDigest(nullptr, 0, b.out, &len, 1), 1);
  EXPECT_EQ(EncodeFunction(nullptr, 0, b.key, 16, nullptr, 1), 1);
  EXPECT_EQ(DecodeFunction(nullptr, -1, b.key, 16, nullptr, 1), 1);
  EXPECT_EQ(EncodeKey(reinterpret_cast<const unsigned char *>("pw"), nullptr, 0, nullptr, 1), 1);
  EXPECT_EQ(DecodeKey(reinterpret_cast<const unsigned char *>("pw"), nullptr, -3, nullptr, 1), 1);
}

TEST(FrameLengths, NegativeDigestLengthIsRefusedBeforeReading) {
  unsigned char out[20];
  int32_t len = 99;
  EXPECT_EQ(MessageDigest(nullptr, -1, out, &len, 1), -3);
  EXPECT_EQ(MessageDigest(nullptr, INT32_MIN, out, &len, 1), -3);
  EXPECT_EQ(len, 99);
}

TEST(FrameLengths, ModeIsCheckedBeforeTheKeyLength) {
  Buffers b;
  EXPECT_EQ(EncodeFunction(b.data, 8, b.key, 15, b.out, 2), -1);
  EXPECT_EQ(EncodeFunction(b.data, 8, b.key, 15, b.out, 1), -2);
  EXPECT_EQ(DecodeFunction(nullptr, 8, nullptr, 0, nullptr, 1), -2);
  EXPECT_EQ(EncodeFunction(b.data, 8, b.key, -16, b.out, 1), -2);
  EXPECT_TRUE(b.Untouched());
}

// The backstop: whatever the work throws becomes the export's failure code
// and leaves nothing to propagate.
TEST(FrameRun, BackstopTurnsAnyExceptionIntoTheFailureCode) {
  EXPECT_EQ(frame::Run(-3, []() -> int32_t { throw std::runtime_error("x"); }), -3);
  EXPECT_EQ(frame::Run(-2, []() -> int32_t { throw 42; }), -2);
  EXPECT_EQ(frame::Run(-3, [] { return 1; }), 1);
}

}  // namespace
}  // namespace compatcrypt::test
