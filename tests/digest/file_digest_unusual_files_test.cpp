// FileDigest on files that are not plain regular files: kernel files whose
// size reads as 0, devices, symbolic links, pipes, and streams that fail
// after some data was read. Also that failing calls close what they open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <optional>
#include <string>

#include "compatcrypt.h"
#include "support/openssl_models.h"
#include "support/test_support.h"

namespace compatcrypt::test {
namespace {

using namespace std::chrono_literals;

int32_t DigestPath(const std::string &path, int32_t offset, Bytes &out, int32_t &outLen, uint32_t mode = 1) {
  return FileDigest(U(path), offset, out.data(), &outLen, mode);
}

std::size_t OpenDescriptorCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A size of 0 from stat is not the end of the file: /proc files are read
// to their end, whatever stat says.
TEST(FileDigestUnusualFiles, ProcFileWhoseSizeReadsAsZero) {
  struct stat st {};
  if (::stat("/proc/version", &st) != 0) GTEST_SKIP() << "no /proc/version";
  EXPECT_EQ(st.st_size, 0);
  std::ifstream in("/proc/version", std::ios::binary);
  const Bytes contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(contents.empty());
  Bytes out(20);
  int32_t outLen = 0;
  ASSERT_EQ(DigestPath("/proc/version", 0, out, outLen), 1);
  EXPECT_EQ(outLen, 20);
  EXPECT_EQ(ToHex(out), ToHex(ModelDigest(contents)));
}

// A character device and a link are read like the bytes they give.
TEST(FileDigestUnusualFiles, DeviceAndSymlink) {
  TempDir dir;
  std::mt19937_64 rng(81);
  const Bytes contents = RandomBytes(rng, 1000);
  const auto target = dir.Write("target.bin", contents);
  const auto link = dir.path() / "link.bin";
  std::filesystem::create_symlink(target, link);
  const struct {
    const char *what;
    std::string path;
    int32_t offset;
    Bytes expected;
  } cases[] = {
      {"/dev/null is empty", "/dev/null", 0, ModelDigest({})},
      {"symlink reads its target", link.string(), 0, ModelDigest(contents)},
      {"symlink from an offset", link.string(), 10,
       ModelDigest(Bytes(contents.begin() + 10, contents.end()))},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes out(20);
    int32_t outLen = 0;
    ASSERT_EQ(DigestPath(c.path, c.offset, out, outLen), 1);
    EXPECT_EQ(ToHex(out), ToHex(c.expected));
  }
}

// Runs FileDigest on another thread; if it has not returned within the
// time, `unblock` is called (so that the thread can end) and the call
// counts as blocked: nullopt.
std::optional<int32_t> DigestWithWatchdog(const std::string &path, uint32_t mode, Bytes &out, int32_t &outLen,
                                          const std::function<void()> &unblock) {
  auto call = std::async(std::launch::async, [&] { return DigestPath(path, 0, out, outLen, mode); });
  if (call.wait_for(5s) == std::future_status::ready) return call.get();
  unblock();
  call.wait();
  return std::nullopt;
}

// A pipe cannot be positioned: -2 at once, even with a writer that never
// writes, rather than waiting for data.
TEST(FileDigestUnusualFiles, FifoWithWriterFailsWithoutBlocking) {
  TempDir dir;
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int fd = ::open(fifo.c_str(), O_RDWR);  // a writer and a reader, so no open blocks
  ASSERT_GE(fd, 0);
  Bytes out(20, 0xA5);
  int32_t outLen = 1234;
  const auto result = DigestWithWatchdog(fifo, 1, out, outLen, [&] {
    ::close(fd);
    fd = -1;
  });
  if (fd >= 0) ::close(fd);
  ASSERT_TRUE(result.has_value()) << "FileDigest blocked on a pipe";
  EXPECT_EQ(*result, -2);
  EXPECT_EQ(out, Bytes(20, 0xA5));
  EXPECT_EQ(outLen, 1234);
}

// A pipe that nobody writes to: opening it for reading would wait for a
// writer, which may never come, and a host cannot stop a call blocked in
// open(). -2 at once, the result the pipe gets once a writer comes, with
// nothing opened left behind for a writer to find.
TEST(FileDigestUnusualFiles, FifoWithoutWriterFailsWithoutWaitingForOne) {
  TempDir dir;
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Bytes out(20, 0xA5);
  int32_t outLen = 1234;
  const auto result = DigestWithWatchdog(fifo, 1, out, outLen, [&] {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  });
  ASSERT_TRUE(result.has_value()) << "FileDigest waited in open() for a writer";
  EXPECT_EQ(*result, -2);
  EXPECT_EQ(out, Bytes(20, 0xA5));
  EXPECT_EQ(outLen, 1234);
  // No reader is left open: a writer that opens without blocking fails.
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  EXPECT_LT(writer, 0);
  if (writer >= 0) ::close(writer);
}

// The mode is checked before the path is opened: opening a pipe that has no
// writer would wait for one.
TEST(FileDigestUnusualFiles, WrongModeDoesNotOpenAFifo) {
  TempDir dir;
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Bytes out(20, 0xA5);
  int32_t outLen = 1234;
  const auto result = DigestWithWatchdog(fifo, 2, out, outLen, [&] {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  });
  ASSERT_TRUE(result.has_value()) << "FileDigest with a wrong mode opened the pipe";
  EXPECT_EQ(*result, -1);
  EXPECT_EQ(out, Bytes(20, 0xA5));
  EXPECT_EQ(outLen, 1234);
}

// Every failing path closes what it opened: 10,000 failures leave the
// process's descriptor count as it was.
TEST(FileDigestUnusualFiles, FailuresLeaveNoDescriptorOpen) {
  TempDir dir;
  const std::string file = dir.Write("data.bin", Bytes(100, 0x41)).string();
  const std::string missing = (dir.path() / "missing").string();
  const std::string directory = dir.path().string();
  const std::size_t before = OpenDescriptorCount();
  Bytes out(20);
  int32_t outLen = 0;
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(DigestPath(missing, 0, out, outLen), -2);
    ASSERT_EQ(DigestPath(file, -1 - i, out, outLen), -2);
    ASSERT_EQ(DigestPath(directory, 0, out, outLen), -2);
    ASSERT_EQ(DigestPath(directory, 0, out, outLen), -2);
  }
  // -3 is reported after the file was opened: it must be closed too.
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(FileDigest(U(file), 0, nullptr, &outLen, 1), -3);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

// A read that fails after other reads returned data is an error, not the
// end of the file. /proc/self/mem from the start of a mapping of this
// process reads the mapped pages, then fails with EIO at the unmapped page
// that follows.
TEST(FileDigestUnusualFiles, ReadErrorAfterSomeData) {
  constexpr std::size_t kMapped = 64 * 1024;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void *base = MAP_FAILED;
  // An address below 2^31, which the int32 offset can reach.
  for (uintptr_t at = 0x20000000; at < 0x7F000000 && base == MAP_FAILED; at += 0x1000000) {
    base = ::mmap(reinterpret_cast<void *>(at), kMapped + page, PROT_READ | PROT_WRITE,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (base != MAP_FAILED && base != reinterpret_cast<void *>(at)) {
      ::munmap(base, kMapped + page);
      base = MAP_FAILED;
    }
  }
  if (base == MAP_FAILED) GTEST_SKIP() << "no free address below 2 GiB for the mapping";
  auto *bytes = static_cast<unsigned char *>(base);
  ASSERT_EQ(::munmap(bytes + kMapped, page), 0);  // the page after the data
  for (std::size_t i = 0; i < kMapped; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  const auto offset = static_cast<int32_t>(reinterpret_cast<uintptr_t>(base));

  // The mapped bytes read back, then a read fails.
  const int fd = ::open("/proc/self/mem", O_RDONLY);
  if (fd < 0) {
    ::munmap(base, kMapped);
    GTEST_SKIP() << "/proc/self/mem cannot be opened";
  }
  Bytes probe(kMapped + page);
  const ssize_t first = ::pread(fd, probe.data(), probe.size(), offset);
  const ssize_t second = ::pread(fd, probe.data(), page, offset + static_cast<off_t>(kMapped));
  ::close(fd);
  if (first != static_cast<ssize_t>(kMapped) || second >= 0) {
    ::munmap(base, kMapped);
    GTEST_SKIP() << "/proc/self/mem does not read to the end of the mapping, then fail";
  }

  Bytes out(20, 0xA5);
  int32_t outLen = 1234;
  EXPECT_EQ(DigestPath("/proc/self/mem", offset, out, outLen), -2)
      << "the digest of the " << kMapped << " bytes before the error would be "
      << ToHex(ModelDigest(Bytes(bytes, bytes + kMapped)));
  EXPECT_EQ(out, Bytes(20, 0xA5));
  EXPECT_EQ(outLen, 1234);
  ::munmap(base, kMapped);
}

}  // namespace
}  // namespace compatcrypt::test
