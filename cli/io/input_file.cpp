#include "io/input_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "compatcrypt.hpp"
#include "support/failure.h"

namespace compatcrypt::cli {

namespace {

constexpr const char *kStandardInput = "standard input";
constexpr const char *kChanged = "file changed while being read";

// Whether the file system behind `fd` keeps the sizes of its files. The
// kernel's own file systems make a file's data when it is read and give a
// size of 0 or a page (/proc/cpuinfo, /sys/...): such a file is read as a
// stream, to its end, as a pipe is, with no size to hold it to.
bool KeepsSizes(int fd) {
  struct statfs system;
  if (fstatfs(fd, &system) != 0) return true;
  switch (static_cast<unsigned long>(system.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
      return false;
    default:
      return true;
  }
}

bool SameTime(const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

bool IsStandardInputFile(const struct stat &status) {
  struct stat input;
  return fstat(STDIN_FILENO, &input) == 0 && input.st_dev == status.st_dev && input.st_ino == status.st_ino;
}

// ---------------------------------------------------------------------------

InputFile::InputFile(const std::string &name) {
  if (name == "-") {
    name_ = kStandardInput;
    fd_ = STDIN_FILENO;
  } else {
    name_ = name;
    fd_ = open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) ThrowErrno(name_);
    owned_ = true;
  }
  struct stat status;
  if (fstat(fd_, &status) != 0) ThrowErrno(name_);
  if (S_ISDIR(status.st_mode)) throw Failure(name_, std::strerror(EISDIR));
  standardInput_ = fd_ == STDIN_FILENO || IsStandardInputFile(status);
  regular_ = S_ISREG(status.st_mode) && KeepsSizes(fd_);
  if (regular_) {
    modified_ = status.st_mtim;
    // Standard input may start anywhere in its file.
    const off_t start = lseek(fd_, 0, SEEK_CUR);
    position_ = start > 0 ? static_cast<std::uint64_t>(start) : 0;
    expectedEnd_ = static_cast<std::uint64_t>(status.st_size);
    size_ = expectedEnd_ > position_ ? expectedEnd_ - position_ : 0;
  }
}

InputFile::~InputFile() {
  if (owned_) close(fd_);
}

std::size_t InputFile::Read(std::span<std::byte> buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    const ssize_t got = read(fd_, buffer.data() + filled, buffer.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(name_);
    }
    if (got == 0) {
      CheckEnd();
      break;
    }
    filled += static_cast<std::size_t>(got);
    position_ += static_cast<std::uint64_t>(got);
    // Data past the size the file had when opened: it is being written.
    if (regular_ && position_ > expectedEnd_) throw Failure(name_, kChanged);
  }
  return filled;
}

// The data ended: a regular file must have ended where its size said, and
// must still have that size.
void InputFile::CheckEnd() {
  if (!regular_) return;
  if (position_ < expectedEnd_) throw Failure(name_, kChanged);
  CheckStatus();
}

// A write shows in the size or the modification time, whichever way it
// went: appended, cut short, or rewritten in place at the same size.
void InputFile::CheckStatus() const {
  struct stat status;
  if (fstat(fd_, &status) != 0) ThrowErrno(name_);
  if (static_cast<std::uint64_t>(status.st_size) != expectedEnd_ || !SameTime(status.st_mtim, modified_))
    throw Failure(name_, kChanged);
}

void InputFile::Skip(std::uint64_t count) {
  if (count == 0) return;
  if (regular_) {
    // Seeks no further than the end: a file system may refuse offsets far
    // beyond it, and past the end there is nothing to read either way.
    const std::uint64_t available = expectedEnd_ > position_ ? expectedEnd_ - position_ : 0;
    const std::uint64_t move = count < available ? count : available;
    if (move != 0 && lseek(fd_, static_cast<off_t>(move), SEEK_CUR) < 0) ThrowErrno(name_);
    position_ += move;
    return;
  }
  SecureBytes discard(kChunkSize);
  while (count != 0) {
    const std::size_t want = count < discard.size() ? static_cast<std::size_t>(count) : discard.size();
    const std::size_t got = Read(std::span(discard).first(want));
    if (got == 0) return;
    count -= got;
  }
}

void InputFile::ReadAt(std::uint64_t from, std::span<std::byte> buffer) const {
  if (!regular_ || from > *size_ || buffer.size() > *size_ - from)
    throw Failure(name_, "read outside the data");
  const std::uint64_t at = position_ + from;
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    const ssize_t got =
        pread(fd_, buffer.data() + filled, buffer.size() - filled, static_cast<off_t>(at + filled));
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(name_);
    }
    // The data ends before the size the file had when opened.
    if (got == 0) throw Failure(name_, kChanged);
    filled += static_cast<std::size_t>(got);
  }
}

void InputFile::ShowReadUpTo(std::uint64_t done) const {
  if (regular_ && lseek(fd_, static_cast<off_t>(position_ + done), SEEK_SET) < 0) ThrowErrno(name_);
}

// The positional reads are done: nothing may follow the size the file had
// when opened, and the size must still be that.
void InputFile::CheckUnchanged() const {
  if (!regular_) return;
  std::byte probe;
  for (;;) {
    const ssize_t got = pread(fd_, &probe, 1, static_cast<off_t>(expectedEnd_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ThrowErrno(name_);
    if (got != 0) throw Failure(name_, kChanged);
    break;
  }
  CheckStatus();
}

// ---------------------------------------------------------------------------

}  // namespace compatcrypt::cli
