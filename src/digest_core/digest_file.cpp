#include "digest_core/digest_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>  // SEEK_SET
#if defined(_WIN32)
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::digest_core {

namespace {

// Reads in requests of many blocks, so whole blocks go to the engines in
// runs; a digest depends only on the bytes, never on how they were read.
// 16 KiB: on a cached 256 MiB file, requests of 16, 64 and 128 KiB took the
// same CPU time within 2% (the copy out of the page cache costs the same per
// byte), and the buffer lives on the caller's stack, which a host may keep
// small. Re-measure with
//   build/bench/compatcrypt_bench --benchmark_filter='file_digest/'
// after changing this constant. The file is never mapped: a file truncated
// while mapped would kill the host with SIGBUS.
constexpr std::size_t kReadBytes = 256 * kBlockSize;

// The file is read through a descriptor, not a stdio stream: opening a
// stream allocates it on the heap, and no export allocates.
#if defined(_WIN32)
int OpenForReading(const char *path) { return _open(path, _O_RDONLY | _O_BINARY); }
bool SeekTo(int fd, int64_t offset) {
  const int64_t reached = _lseeki64(fd, offset, SEEK_SET);
  if (reached >= 0 && reached != offset) errno = ESPIPE;
  return reached == offset;
}
long ReadSome(int fd, uint8_t *buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}
bool PastLargestFile(int, int64_t) { return false; }
void CloseFile(int fd) { _close(fd); }
#else
// O_NONBLOCK: opening a FIFO would otherwise wait for a writer, and a host
// cannot stop a call blocked in open(). A FIFO or socket cannot be read from
// an offset, so it is refused at once, as the seek would refuse it once a
// writer came. Whatever is kept is read blocking again (a terminal, say),
// so that a read never stops short with EAGAIN.
int OpenForReading(const char *path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fd;
  struct stat status;
  int failure = 0;
  if (fstat(fd, &status) != 0) {
    failure = errno;
  } else if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    failure = ESPIPE;
  } else {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) failure = errno;
  }
  if (failure == 0) return fd;
  close(fd);
  errno = failure;
  return -1;
}
// Every offset file_digest takes must reach lseek whole.
static_assert(sizeof(off_t) == sizeof(int64_t), "64-bit file offsets (_FILE_OFFSET_BITS=64)");
// A device that keeps no position (/dev/null, /dev/zero) answers any seek
// with 0 and no error: it cannot be read from an offset, as a FIFO cannot.
bool SeekTo(int fd, int64_t offset) {
  const off_t reached = lseek(fd, offset, SEEK_SET);
  if (reached >= 0 && reached != offset) errno = ESPIPE;
  return reached == offset;
}
// A file system refuses to seek past its largest file size (EINVAL); such an
// offset is past the end of the file, which has no bytes there.
bool PastLargestFile(int fd, int64_t offset) {
  struct stat status;
  return errno == EINVAL && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && offset >= status.st_size;
}
long ReadSome(int fd, uint8_t *buffer, std::size_t size) { return static_cast<long>(read(fd, buffer, size)); }
void CloseFile(int fd) { close(fd); }
#endif

}  // namespace

DigestFile::~DigestFile() {
  if (fd_ >= 0) CloseFile(fd_);
}

bool DigestFile::Open(const char *path, int64_t offset) {
  fd_ = OpenForReading(path);
  if (fd_ < 0) return false;
  if (offset < 0) return false;
  if (!SeekTo(fd_, offset)) {
    if (!PastLargestFile(fd_, offset)) return false;
    noBytes_ = true;
  }
#if defined(POSIX_FADV_SEQUENTIAL)
  // Read once, in order: the kernel may read further ahead (a hint only; a
  // file that takes none, such as a pipe, is no failure).
  posix_fadvise(fd_, offset, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

DigestFile::Step DigestFile::Read(std::size_t limit) {
  if (noBytes_) return Step::end;
  uint8_t buffer[kReadBytes];
  std::size_t done = 0;
  Step step = Step::more;
  // A read may return fewer bytes than asked before the end (a pipe, a
  // signal); only 0 is the end.
  do {
    const long got = ReadSome(fd_, buffer, sizeof buffer);
    if (got == 0) {
      step = Step::end;
    } else if (got < 0) {
      if (errno != EINTR) step = Step::failed;
    } else {
      stream_.Update({buffer, static_cast<std::size_t>(got)});
      done += static_cast<std::size_t>(got);
    }
  } while (step == Step::more && (limit == 0 || done < limit));
  const int reason = errno;
  SecureWipe(buffer);
  // The engines ran below the read buffer, deeper than the export's burn
  // reaches.
  BurnStack();
  errno = reason;
  return step;
}

void DigestFile::Finish(std::span<uint8_t, kDigestBytes> out) {
  stream_.Finish(out);
  BurnStack();
}

bool DigestFile::Digest(std::span<uint8_t, kDigestBytes> out) {
  if (Read(0) == Step::failed) return false;
  Finish(out);
  return true;
}

}  // namespace compatcrypt::digest_core
