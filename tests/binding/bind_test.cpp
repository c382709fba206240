// The binding surface against the library's own C functions: the streams
// give the bytes of MessageDigest, FileDigest, EncodeFunction and
// DecodeFunction however the data is cut and wherever the objects live;
// handles that are not handles are refused; the key rules and messages are
// the core's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "compatcrypt_bind.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

using namespace std::chrono_literals;

// Memory a binding owns, at an odd address, as a database's allocator
// might hand it out: the surface aligns the object inside.
struct HostMemory {
  explicit HostMemory(std::size_t size) : bytes(size + 1, 0xEE) {}
  void *at() { return bytes.data() + 1; }
  std::size_t size() const { return bytes.size() - 1; }
  std::vector<unsigned char> bytes;
};

// Cuts `size` into random pieces (some empty).
std::vector<std::size_t> RandomCuts(std::mt19937_64 &rng, std::size_t size) {
  std::vector<std::size_t> pieces;
  std::size_t left = size;
  while (left > 0) {
    const std::size_t piece = std::min<std::size_t>(left, rng() % 4 == 0 ? 0 : rng() % 200 + 1);
    pieces.push_back(piece);
    left -= piece;
  }
  pieces.push_back(0);
  return pieces;
}

constexpr std::size_t kLengths[] = {0, 1, 7, 8, 9, 55, 56, 57, 63, 64, 65, 127, 1000, 4099};

TEST(BindSurface, VersionAndMessages) {
  EXPECT_EQ(compatcrypt_bind_version(), static_cast<uint32_t>(COMPATCRYPT_BIND_VERSION));
  const int codes[] = {COMPATCRYPT_BIND_OK,
                       COMPATCRYPT_BIND_E_FILE,
                       COMPATCRYPT_BIND_E_ARGUMENT,
                       COMPATCRYPT_BIND_E_KEY_LENGTH,
                       COMPATCRYPT_BIND_E_OUTPUT_SIZE,
                       COMPATCRYPT_BIND_E_PASSWORD_EMPTY,
                       COMPATCRYPT_BIND_E_PASSWORD_NUL,
                       COMPATCRYPT_BIND_E_NO_MEMORY,
                       COMPATCRYPT_BIND_E_KEY_HEX,
                       COMPATCRYPT_BIND_E_STATE};
  std::set<std::string> texts;
  for (const int code : codes) {
    const std::string text = compatcrypt_bind_message(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_NE(text, compatcrypt_bind_message(12345)) << code;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), std::size(codes)) << "two codes share a message";
  EXPECT_STREQ(compatcrypt_bind_message(0), "unknown result code");
  EXPECT_GT(compatcrypt_bind_piece_bytes(), 0u);
}

TEST(BindSurface, DigestStreamEqualsMessageDigestHoweverCut) {
  std::mt19937_64 rng(1);
  for (const std::size_t length : kLengths) {
    SCOPED_TRACE(length);
    const Bytes data = RandomBytes(rng, length);
    HostMemory memory(compatcrypt_bind_digest_size());
    compatcrypt_bind_digest *digest = nullptr;
    ASSERT_EQ(compatcrypt_bind_digest_init(memory.at(), memory.size(), &digest), COMPATCRYPT_BIND_OK);
    std::size_t at = 0;
    for (const std::size_t piece : RandomCuts(rng, length)) {
      ASSERT_EQ(compatcrypt_bind_digest_update(digest, data.data() + at, piece), COMPATCRYPT_BIND_OK);
      at += piece;
    }
    Bytes value(20), finished(20), again(20);
    ASSERT_EQ(compatcrypt_bind_digest_value(digest, value.data()), COMPATCRYPT_BIND_OK);
    ASSERT_EQ(compatcrypt_bind_digest_finish(digest, finished.data()), COMPATCRYPT_BIND_OK);
    EXPECT_EQ(ToHex(value), ToHex(CDigest(data)));
    EXPECT_EQ(ToHex(finished), ToHex(CDigest(data)));
    // finish starts a new message.
    ASSERT_EQ(compatcrypt_bind_digest_finish(digest, again.data()), COMPATCRYPT_BIND_OK);
    EXPECT_EQ(ToHex(again), ToHex(CDigest(Bytes{})));
    EXPECT_EQ(compatcrypt_bind_digest_destroy(digest), COMPATCRYPT_BIND_OK);
  }
}

// value() leaves the stream going; a copy carries on on its own.
TEST(BindSurface, DigestValueAndCopy) {
  std::mt19937_64 rng(2);
  const Bytes prefix = RandomBytes(rng, 100), a = RandomBytes(rng, 30), b = RandomBytes(rng, 70);
  compatcrypt_bind_digest *first = nullptr, *second = nullptr;
  ASSERT_EQ(compatcrypt_bind_digest_new(&first), COMPATCRYPT_BIND_OK);
  compatcrypt_bind_digest_update(first, prefix.data(), prefix.size());
  Bytes peek(20);
  ASSERT_EQ(compatcrypt_bind_digest_value(first, peek.data()), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(ToHex(peek), ToHex(CDigest(prefix)));
  ASSERT_EQ(compatcrypt_bind_digest_copy(first, nullptr, 0, &second), COMPATCRYPT_BIND_OK);
  compatcrypt_bind_digest_update(first, a.data(), a.size());
  compatcrypt_bind_digest_update(second, b.data(), b.size());
  Bytes one(20), two(20);
  compatcrypt_bind_digest_finish(first, one.data());
  compatcrypt_bind_digest_finish(second, two.data());
  Bytes joinedA = prefix, joinedB = prefix;
  joinedA.insert(joinedA.end(), a.begin(), a.end());
  joinedB.insert(joinedB.end(), b.begin(), b.end());
  EXPECT_EQ(ToHex(one), ToHex(CDigest(joinedA)));
  EXPECT_EQ(ToHex(two), ToHex(CDigest(joinedB)));
  compatcrypt_bind_digest_destroy(first);
  compatcrypt_bind_digest_destroy(second);
}

struct CoderCase {
  int direction;
  Bytes (*reference)(const Bytes &, const Bytes &);
};
const CoderCase kCoders[] = {
    {COMPATCRYPT_BIND_ENCODE, [](const Bytes &d, const Bytes &k) { return CEncode(d, k); }},
    {COMPATCRYPT_BIND_DECODE, [](const Bytes &d, const Bytes &k) { return CDecode(d, k); }},
};

// Runs one message through `coder` in random pieces.
Bytes CodeInPieces(compatcrypt_bind_coder *coder, const Bytes &data, std::mt19937_64 &rng) {
  Bytes out;
  std::size_t at = 0;
  for (const std::size_t piece : RandomCuts(rng, data.size())) {
    Bytes part(compatcrypt_bind_coder_update_size(coder, piece));
    std::size_t written = 99;
    EXPECT_EQ(
        compatcrypt_bind_coder_update(coder, data.data() + at, piece, part.data(), part.size(), &written),
        COMPATCRYPT_BIND_OK);
    EXPECT_EQ(written, part.size());
    out.insert(out.end(), part.begin(), part.end());
    at += piece;
  }
  Bytes tail(compatcrypt_bind_coder_finish_size(coder));
  std::size_t written = 99;
  EXPECT_EQ(compatcrypt_bind_coder_finish(coder, tail.data(), tail.size(), &written), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(written, tail.size());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

// One coder, one key schedule, many records in turn: each record's bytes are
// those of the C function on that record alone.
TEST(BindSurface, CodersEqualTheFunctionsAcrossRecords) {
  std::mt19937_64 rng(3);
  for (const CoderCase &c : kCoders) {
    SCOPED_TRACE(c.direction);
    const Bytes key = RandomBytes(rng, 16);
    HostMemory memory(compatcrypt_bind_coder_size());
    compatcrypt_bind_coder *coder = nullptr;
    ASSERT_EQ(
        compatcrypt_bind_coder_init(memory.at(), memory.size(), c.direction, key.data(), key.size(), &coder),
        COMPATCRYPT_BIND_OK);
    for (const std::size_t length : kLengths) {
      SCOPED_TRACE(length);
      const Bytes data = RandomBytes(rng, length);
      EXPECT_EQ(ToHex(CodeInPieces(coder, data, rng)), ToHex(c.reference(data, key)));
    }
    EXPECT_EQ(compatcrypt_bind_coder_destroy(coder), COMPATCRYPT_BIND_OK);
  }
}

TEST(BindSurface, CoderInPlaceWithNothingHeld) {
  std::mt19937_64 rng(4);
  const Bytes key = RandomBytes(rng, 16);
  const Bytes data = RandomBytes(rng, 803);
  compatcrypt_bind_coder *coder = nullptr;
  ASSERT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_ENCODE, key.data(), 16, &coder), COMPATCRYPT_BIND_OK);
  Bytes buffer = data;
  std::size_t written = 0;
  ASSERT_EQ(compatcrypt_bind_coder_update(coder, buffer.data(), 800, buffer.data(), 800, &written),
            COMPATCRYPT_BIND_OK);
  ASSERT_EQ(written, 800u);
  Bytes tail(3);
  ASSERT_EQ(compatcrypt_bind_coder_update(coder, buffer.data() + 800, 3, nullptr, 0, &written),
            COMPATCRYPT_BIND_OK);
  ASSERT_EQ(compatcrypt_bind_coder_finish(coder, buffer.data() + 800, 3, &written), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(ToHex(buffer), ToHex(CEncode(data, key)));
  compatcrypt_bind_coder_destroy(coder);
}

// A batch of records gives each record's bytes as the C function gives them
// for that record alone, in place and apart; bytes outside the records are
// neither read nor written.
TEST(BindSurface, BatchEqualsTheFunctionsPerRecord) {
  std::mt19937_64 rng(10);
  for (const CoderCase &c : kCoders) {
    const Bytes key = RandomBytes(rng, 16);
    compatcrypt_bind_coder *coder = nullptr;
    ASSERT_EQ(compatcrypt_bind_coder_new(c.direction, key.data(), 16, &coder), COMPATCRYPT_BIND_OK);
    for (const std::size_t count : {0, 1, 7, 300, 1000}) {
      SCOPED_TRACE(std::to_string(c.direction) + " " + std::to_string(count));
      std::vector<std::size_t> offsets{5};  // 5 bytes before the first record
      for (std::size_t i = 0; i < count; ++i)
        offsets.push_back(offsets.back() + (rng() % 5 == 0 ? 0 : rng() % 120));
      const Bytes data = RandomBytes(rng, offsets.back() + 6);  // and 6 after the last
      Bytes expected = data;
      for (std::size_t i = 0; i < count; ++i) {
        const Bytes record(data.begin() + offsets[i], data.begin() + offsets[i + 1]);
        const Bytes coded = c.reference(record, key);
        std::copy(coded.begin(), coded.end(), expected.begin() + offsets[i]);
      }
      Bytes apart(data.size(), 0xA5);
      ASSERT_EQ(
          compatcrypt_bind_coder_batch(coder, data.data(), offsets.data(), count, apart.data(), apart.size()),
          COMPATCRYPT_BIND_OK);
      EXPECT_EQ(ToHex(Bytes(apart.begin() + 5, apart.begin() + offsets.back())),
                ToHex(Bytes(expected.begin() + 5, expected.begin() + offsets.back())));
      EXPECT_EQ(Bytes(apart.begin(), apart.begin() + 5), Bytes(5, 0xA5));
      EXPECT_EQ(Bytes(apart.end() - 6, apart.end()), Bytes(6, 0xA5));
      Bytes inPlace = data;
      ASSERT_EQ(compatcrypt_bind_coder_batch(coder, inPlace.data(), offsets.data(), count, inPlace.data(),
                                             inPlace.size()),
                COMPATCRYPT_BIND_OK);
      EXPECT_EQ(ToHex(inPlace), ToHex(expected));
    }
    // The batch leaves the stream as it was: a record after it codes as alone.
    const Bytes record = RandomBytes(rng, 21);
    EXPECT_EQ(ToHex(CodeInPieces(coder, record, rng)), ToHex(c.reference(record, key)));
    compatcrypt_bind_coder_destroy(coder);
  }
}

TEST(BindSurface, BatchArgumentsRefused) {
  const Bytes key(16, 0x33);
  compatcrypt_bind_coder *coder = nullptr;
  ASSERT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_ENCODE, key.data(), 16, &coder), COMPATCRYPT_BIND_OK);
  Bytes data(64, 0x11), out(64, 0xA5);
  const std::size_t decreasing[] = {0, 20, 10};
  const std::size_t tooLong[] = {0, 65};
  const std::size_t whole[] = {0, 64};
  EXPECT_EQ(compatcrypt_bind_coder_batch(coder, data.data(), decreasing, 2, out.data(), 64),
            COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_coder_batch(coder, data.data(), tooLong, 1, out.data(), 64),
            COMPATCRYPT_BIND_E_OUTPUT_SIZE);
  EXPECT_EQ(compatcrypt_bind_coder_batch(coder, data.data(), whole, 1, data.data() + 8, 56),
            COMPATCRYPT_BIND_E_OUTPUT_SIZE);
  Bytes big(80, 0x11);
  EXPECT_EQ(compatcrypt_bind_coder_batch(coder, big.data(), whole, 1, big.data() + 8, 72),
            COMPATCRYPT_BIND_E_ARGUMENT)
      << "an output overlapping the input elsewhere";
  EXPECT_EQ(compatcrypt_bind_coder_batch(coder, data.data(), nullptr, 1, out.data(), 64),
            COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(out, Bytes(64, 0xA5)) << "a refused batch wrote";
  std::size_t written = 0;
  ASSERT_EQ(compatcrypt_bind_coder_update(coder, data.data(), 3, nullptr, 0, &written), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(compatcrypt_bind_coder_batch(coder, data.data(), whole, 1, out.data(), 64),
            COMPATCRYPT_BIND_E_STATE);
  compatcrypt_bind_coder_destroy(coder);
}

// Arguments that cannot be used are refused with their code, and nothing is
// written.
TEST(BindSurface, CoderArgumentsRefused) {
  const Bytes key(16, 0x11), shortKey(15, 0x11), longKey(17, 0x11);
  compatcrypt_bind_coder *coder = nullptr;
  EXPECT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_ENCODE, shortKey.data(), 15, &coder),
            COMPATCRYPT_BIND_E_KEY_LENGTH);
  EXPECT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_ENCODE, longKey.data(), 17, &coder),
            COMPATCRYPT_BIND_E_KEY_LENGTH);
  EXPECT_EQ(compatcrypt_bind_coder_new(3, key.data(), 16, &coder), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_ENCODE, nullptr, 16, &coder),
            COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(coder, nullptr);
  char tooSmall[8];
  EXPECT_EQ(
      compatcrypt_bind_coder_init(tooSmall, sizeof tooSmall, COMPATCRYPT_BIND_ENCODE, key.data(), 16, &coder),
      COMPATCRYPT_BIND_E_ARGUMENT);

  ASSERT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_DECODE, key.data(), 16, &coder), COMPATCRYPT_BIND_OK);
  const Bytes data(20, 0x42);
  Bytes out(15, 0xA5);
  std::size_t written = 7;
  EXPECT_EQ(compatcrypt_bind_coder_update(coder, data.data(), 20, out.data(), 15, &written),
            COMPATCRYPT_BIND_E_OUTPUT_SIZE);
  EXPECT_EQ(out, Bytes(15, 0xA5));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(compatcrypt_bind_coder_update(coder, nullptr, 20, out.data(), 15, &written),
            COMPATCRYPT_BIND_E_ARGUMENT);
  // The refused calls held nothing back: the coder still codes as new.
  std::mt19937_64 rng(5);
  EXPECT_EQ(ToHex(CodeInPieces(coder, data, rng)), ToHex(CDecode(data, key)));
  compatcrypt_bind_coder_destroy(coder);
}

// Null, destroyed and foreign handles, and handles of another kind, are
// refused, never used.
TEST(BindSurface, HandlesThatAreNotHandlesAreRefused) {
  const Bytes key(16, 0x22);
  compatcrypt_bind_digest *digest = nullptr;
  compatcrypt_bind_coder *coder = nullptr;
  ASSERT_EQ(compatcrypt_bind_digest_new(&digest), COMPATCRYPT_BIND_OK);
  ASSERT_EQ(compatcrypt_bind_coder_new(COMPATCRYPT_BIND_ENCODE, key.data(), 16, &coder), COMPATCRYPT_BIND_OK);
  Bytes out(64);
  std::size_t written = 0;
  int done = 0;
  alignas(16) unsigned char foreign[512] = {};
  auto *asCoder = reinterpret_cast<compatcrypt_bind_coder *>(digest);
  auto *asDigest = reinterpret_cast<compatcrypt_bind_digest *>(coder);
  auto *asFile = reinterpret_cast<compatcrypt_bind_file *>(foreign);
  EXPECT_EQ(compatcrypt_bind_coder_update(asCoder, out.data(), 8, out.data(), 8, &written),
            COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_coder_update_size(asCoder, 8), 0u);
  EXPECT_EQ(compatcrypt_bind_digest_update(asDigest, out.data(), 8), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_file_read(asFile, 0, &done, nullptr), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_digest_update(nullptr, out.data(), 8), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_digest_destroy(nullptr), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_coder_destroy(asCoder), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_digest_destroy(digest), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(compatcrypt_bind_coder_destroy(coder), COMPATCRYPT_BIND_OK);
}

// Destroying an object in the binding's memory wipes it all: key schedules,
// held plain bytes and the tag, so a destroyed handle is refused too.
TEST(BindSurface, DestroyWipesTheObject) {
  const Bytes key(16, 0x5C);
  HostMemory memory(compatcrypt_bind_coder_size());
  compatcrypt_bind_coder *coder = nullptr;
  ASSERT_EQ(compatcrypt_bind_coder_init(memory.at(), memory.size(), COMPATCRYPT_BIND_DECODE, key.data(), 16,
                                        &coder),
            COMPATCRYPT_BIND_OK);
  const Bytes held(5, 0x77);
  std::size_t written = 0;
  ASSERT_EQ(compatcrypt_bind_coder_update(coder, held.data(), 5, nullptr, 0, &written), COMPATCRYPT_BIND_OK);
  ASSERT_EQ(compatcrypt_bind_coder_destroy(coder), COMPATCRYPT_BIND_OK);
  const auto *object = reinterpret_cast<const unsigned char *>(coder);
  const std::size_t offset = static_cast<std::size_t>(object - memory.bytes.data());
  for (std::size_t i = offset; i < memory.bytes.size() && i < offset + compatcrypt_bind_coder_size() - 15;
       ++i)
    ASSERT_EQ(memory.bytes[i], 0) << "byte " << i - offset << " of the object survived";
  EXPECT_EQ(compatcrypt_bind_coder_destroy(coder), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_coder_finish_size(coder), 0u);
}

// Opens, reads to the end in pieces of `limit` and finishes.
int FileDigestInPieces(const std::string &path, int64_t offset, std::size_t limit, Bytes &out, int &osError,
                       int *pieces = nullptr) {
  HostMemory memory(compatcrypt_bind_file_size());
  compatcrypt_bind_file *file = nullptr;
  EXPECT_EQ(compatcrypt_bind_file_init(memory.at(), memory.size(), &file), COMPATCRYPT_BIND_OK);
  int result = compatcrypt_bind_file_open(file, path.c_str(), offset, &osError);
  int done = 0;
  int count = 0;
  while (result == COMPATCRYPT_BIND_OK && !done) {
    result = compatcrypt_bind_file_read(file, limit, &done, &osError);
    ++count;
  }
  if (result == COMPATCRYPT_BIND_OK) result = compatcrypt_bind_file_finish(file, out.data());
  EXPECT_EQ(compatcrypt_bind_file_destroy(file), COMPATCRYPT_BIND_OK);
  if (pieces != nullptr) *pieces = count;
  return result;
}

TEST(BindSurface, FileDigestInPiecesEqualsFileDigest) {
  std::mt19937_64 rng(6);
  TempDir dir;
  const Bytes contents = RandomBytes(rng, 300000);
  const auto path = dir.path() / "data.bin";
  {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(contents.data()), contents.size());
  }
  const struct {
    int64_t offset;
    std::size_t limit;
  } cases[] = {{0, 0}, {0, 1}, {3, 65536}, {299999, 4096}, {300000, 1}, {400000, 1}, {int64_t{1} << 40, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + " " + std::to_string(c.limit));
    Bytes out(20);
    int osError = 0;
    ASSERT_EQ(FileDigestInPieces(path.string(), c.offset, c.limit, out, osError), COMPATCRYPT_BIND_OK);
    const Bytes tail(contents.begin() + std::min<int64_t>(c.offset, contents.size()), contents.end());
    EXPECT_EQ(ToHex(out), ToHex(CDigest(tail)));
  }
}

// Failures carry the system's reason; a FIFO is refused at once, with or
// without a writer, never waited on, and so is an offset on a device.
TEST(BindSurface, FileFailuresGiveTheReason) {
  TempDir dir;
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char *what;
    std::string path;
    int64_t offset;
    int osError;
  } cases[] = {
      {"missing", (dir.path() / "missing").string(), 0, ENOENT},
      {"directory", dir.path().string(), 0, EISDIR},
      {"negative offset", "/dev/null", -1, EINVAL},
      {"FIFO without a writer", fifo, 0, ESPIPE},
      // Devices that keep no position answer every seek with 0.
      {"/dev/null from an offset", "/dev/null", 5, ESPIPE},
      {"/dev/zero from an offset", "/dev/zero", 5, ESPIPE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes out(20, 0xA5);
    int osError = 0;
    auto call =
        std::async(std::launch::async, [&] { return FileDigestInPieces(c.path, c.offset, 0, out, osError); });
    if (call.wait_for(5s) != std::future_status::ready) {
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      call.wait();
      if (writer >= 0) ::close(writer);
      FAIL() << "the file digest waited";
    }
    EXPECT_EQ(call.get(), COMPATCRYPT_BIND_E_FILE);
    EXPECT_EQ(osError, c.osError) << std::strerror(osError);
    EXPECT_EQ(out, Bytes(20, 0xA5));
  }
}

// An endless device is read a piece at a time: the binding gets control
// back after every piece and can stop.
TEST(BindSurface, EndlessDeviceReadsInPieces) {
  compatcrypt_bind_file *file = nullptr;
  ASSERT_EQ(compatcrypt_bind_file_new(&file), COMPATCRYPT_BIND_OK);
  int osError = 0;
  ASSERT_EQ(compatcrypt_bind_file_open(file, "/dev/zero", 0, &osError), COMPATCRYPT_BIND_OK);
  for (int i = 0; i < 8; ++i) {
    int done = 1;
    ASSERT_EQ(compatcrypt_bind_file_read(file, 1 << 20, &done, &osError), COMPATCRYPT_BIND_OK);
    ASSERT_EQ(done, 0);
  }
  Bytes out(20);
  EXPECT_EQ(compatcrypt_bind_file_finish(file, out.data()), COMPATCRYPT_BIND_E_STATE);
  EXPECT_EQ(compatcrypt_bind_file_destroy(file), COMPATCRYPT_BIND_OK);
}

TEST(BindSurface, FileCallsOutOfOrder) {
  compatcrypt_bind_file *file = nullptr;
  ASSERT_EQ(compatcrypt_bind_file_new(&file), COMPATCRYPT_BIND_OK);
  int done = 0, osError = 0;
  Bytes out(20);
  EXPECT_EQ(compatcrypt_bind_file_read(file, 0, &done, &osError), COMPATCRYPT_BIND_E_STATE);
  ASSERT_EQ(compatcrypt_bind_file_open(file, "/dev/null", 0, &osError), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(compatcrypt_bind_file_open(file, "/dev/null", 0, &osError), COMPATCRYPT_BIND_E_STATE);
  ASSERT_EQ(compatcrypt_bind_file_read(file, 0, &done, &osError), COMPATCRYPT_BIND_OK);
  ASSERT_EQ(done, 1);
  ASSERT_EQ(compatcrypt_bind_file_finish(file, out.data()), COMPATCRYPT_BIND_OK);
  EXPECT_EQ(ToHex(out), ToHex(CDigest(Bytes{})));
  EXPECT_EQ(compatcrypt_bind_file_finish(file, out.data()), COMPATCRYPT_BIND_E_STATE);
  EXPECT_EQ(compatcrypt_bind_file_destroy(file), COMPATCRYPT_BIND_OK);
}

TEST(BindSurface, KeysFromPasswordsAndHex) {
  std::mt19937_64 rng(7);
  for (const std::size_t length : {0, 1, 6, 7, 8, 9, 100}) {
    Bytes password = RandomBytes(rng, length);
    if (length > 2) password[1] = 0;  // zero bytes count
    Bytes key(16);
    ASSERT_EQ(compatcrypt_bind_key_from_password(password.data(), password.size(), key.data()),
              COMPATCRYPT_BIND_OK);
    EXPECT_EQ(ToHex(key), ToHex(CKey(password)));
  }
  const struct {
    std::string hex;
    int result;
  } hexCases[] = {
      {"00112233445566778899aabbccddeeff", COMPATCRYPT_BIND_OK},
      {"00112233445566778899AABBCCDDEEFF", COMPATCRYPT_BIND_OK},
      {"00112233445566778899aabbccddeef", COMPATCRYPT_BIND_E_KEY_HEX},
      {"00112233445566778899aabbccddeeff0", COMPATCRYPT_BIND_E_KEY_HEX},
      {"00112233445566778899aabbccddeefg", COMPATCRYPT_BIND_E_KEY_HEX},
      {" 0112233445566778899aabbccddeeff", COMPATCRYPT_BIND_E_KEY_HEX},
      {"", COMPATCRYPT_BIND_E_KEY_HEX},
  };
  for (const auto &c : hexCases) {
    SCOPED_TRACE(c.hex);
    Bytes key(16, 0xA5);
    EXPECT_EQ(compatcrypt_bind_key_from_hex(c.hex.data(), c.hex.size(), key.data()), c.result);
    if (c.result == COMPATCRYPT_BIND_OK) {
      EXPECT_EQ(ToHex(key), "00112233445566778899aabbccddeeff");
    } else {
      EXPECT_EQ(key, Bytes(16, 0)) << "a refused key leaves no partial bytes";
    }
  }
}

// The zero-byte rule's report. The oracle for the effective key is the
// cipher itself: it codes exactly as the key given.
TEST(BindSurface, KeyBytesInEffect) {
  const struct {
    const char *hex;
    int outer, middle;
    const char *warning;
  } cases[] = {
      {"0102030405060708090a0b0c0d0e0f10", 8, 8, ""},
      {"01020300000000000000000000000000", 8, 8, ""},  // trailing zeros cut nothing
      {"00000000000000000000000000000000", 8, 8, ""},
      {"0000ffffffffffffffffffffffffffff", 0, 0,
       "a zero byte cuts the outer key to 0 of 8 bytes and the middle key to 0 of 8; 0 of 16 key bytes are "
       "in effect"},
      {"00110000ffffffffffffffffffffffff", 0, 1,
       "a zero byte cuts the outer key to 0 of 8 bytes and the middle key to 1 of 8; 1 of 16 key bytes are "
       "in effect"},
      {"0102030400060708090a0b0c0d0e0f10", 2, 8,
       "a zero byte cuts the outer key to 2 of 8 bytes; 10 of 16 key bytes are in effect"},
      {"01020304050607080900ff0c0d0e0f10", 8, 4,
       "a zero byte cuts the middle key to 4 of 8 bytes; 12 of 16 key bytes are in effect"},
      {"0102030405060708090a0b0c0d0e0010", 8, 8, ""},  // the last outer byte zero: nothing after it
      {"0102030405060708090a0b0c0d000f10", 8, 6,
       "a zero byte cuts the middle key to 6 of 8 bytes; 14 of 16 key bytes are in effect"},
  };
  std::mt19937_64 rng(8);
  const Bytes data = RandomBytes(rng, 45);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.hex);
    const Bytes key = FromHex(c.hex);
    int outer = -1, middle = -1;
    Bytes effective(16, 0xA5);
    ASSERT_EQ(compatcrypt_bind_key_in_effect(key.data(), 16, &outer, &middle, effective.data()),
              COMPATCRYPT_BIND_OK);
    EXPECT_EQ(outer, c.outer);
    EXPECT_EQ(middle, c.middle);
    EXPECT_EQ(ToHex(CEncode(data, effective)), ToHex(CEncode(data, key)));
    char warning[200];
    const int length = compatcrypt_bind_key_warning(key.data(), 16, warning, sizeof warning);
    EXPECT_STREQ(warning, c.warning);
    EXPECT_EQ(length, static_cast<int>(std::strlen(c.warning)));
    // As snprintf: the length whatever the room.
    char small[10];
    EXPECT_EQ(compatcrypt_bind_key_warning(key.data(), 16, small, sizeof small), length);
    EXPECT_EQ(std::strlen(small), std::min<std::size_t>(length, 9));
  }
  const Bytes shortKey(15, 1);
  int outer = 0;
  EXPECT_EQ(compatcrypt_bind_key_in_effect(shortKey.data(), 15, &outer, nullptr, nullptr),
            COMPATCRYPT_BIND_E_KEY_LENGTH);
  char warning[200];
  EXPECT_LT(compatcrypt_bind_key_warning(shortKey.data(), 15, warning, sizeof warning), 0);
}

// Any key: the effective key codes as the key, has no non-zero byte after a
// zero byte in either half, and a cut half is reported with the bytes before
// its first zero.
TEST(BindSurface, KeyBytesInEffectOnRandomKeys) {
  std::mt19937_64 rng(9);
  const Bytes data = RandomBytes(rng, 24);
  for (int trial = 0; trial < 500; ++trial) {
    Bytes key = RandomBytes(rng, 16);
    for (int z = 0; z < 3; ++z)
      if (rng() % 2) key[rng() % 16] = 0;
    int counts[2];
    Bytes effective(16);
    ASSERT_EQ(compatcrypt_bind_key_in_effect(key.data(), 16, &counts[0], &counts[1], effective.data()),
              COMPATCRYPT_BIND_OK);
    ASSERT_EQ(ToHex(CEncode(data, effective)), ToHex(CEncode(data, key))) << ToHex(key);
    for (int half = 0; half < 2; ++half) {
      int firstZero = 8;
      for (int i = 7; i >= 0; --i)
        if (key[half + 2 * i] == 0) firstZero = i;
      bool changed = false;
      for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(effective[half + 2 * i], i < firstZero ? key[half + 2 * i] : 0);
        changed |= effective[half + 2 * i] != key[half + 2 * i];
      }
      EXPECT_EQ(counts[half], changed ? firstZero : 8) << ToHex(key);
    }
  }
}

TEST(BindSurface, PasswordPolicy) {
  const struct {
    std::string password;
    unsigned flags;
    int result;
  } cases[] = {
      {"secret", 0, COMPATCRYPT_BIND_OK},
      {"secret", COMPATCRYPT_BIND_PASSWORD_STRING, COMPATCRYPT_BIND_OK},
      {"", 0, COMPATCRYPT_BIND_E_PASSWORD_EMPTY},
      {"", COMPATCRYPT_BIND_PASSWORD_STRING, COMPATCRYPT_BIND_E_PASSWORD_EMPTY},
      {std::string("a\0b", 3), 0, COMPATCRYPT_BIND_OK},  // KeyGenerating takes every byte
      {std::string("a\0b", 3), COMPATCRYPT_BIND_PASSWORD_STRING, COMPATCRYPT_BIND_E_PASSWORD_NUL},
      {std::string("\0", 1), COMPATCRYPT_BIND_PASSWORD_STRING, COMPATCRYPT_BIND_E_PASSWORD_NUL},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(compatcrypt_bind_password_check(c.password.data(), c.password.size(), c.flags), c.result)
        << c.password.size() << " " << c.flags;
  }
  EXPECT_EQ(compatcrypt_bind_password_check(nullptr, 1, 0), COMPATCRYPT_BIND_E_ARGUMENT);
  EXPECT_EQ(compatcrypt_bind_password_check(nullptr, 0, 0), COMPATCRYPT_BIND_E_PASSWORD_EMPTY);
}

}  // namespace
}  // namespace compatcrypt::test
