#include "files.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "compatcrypt.hpp"
#include "failure.h"
#include "signals.h"

namespace compatcrypt::cli {

namespace {

constexpr const char *kStandardInput = "standard input";
constexpr const char *kStandardOutput = "standard output";
constexpr const char *kChanged = "file changed while being read";
constexpr const char *kExists = "file exists; --force replaces it";

// A name's directory and last component, for the temporary file beside it.
std::string DirectoryOf(const std::string &path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string &path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadLink(const std::string &path, const std::string &subject) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(path.c_str(), target.data(), target.size());
  if (length < 0) ThrowErrno(subject);
  if (static_cast<std::size_t>(length) == target.size()) throw Failure(subject, std::strerror(ENAMETOOLONG));
  target.resize(static_cast<std::size_t>(length));
  return target;
}

// If `directory` is this process's descriptor directory in /proc (as
// /proc/self/fd, /dev/fd and /proc/thread-self/fd are), and `base` a
// descriptor number, that number.
std::optional<int> OwnDescriptor(const std::string &directory, const std::string &base) {
  if (base.empty() || base.size() > 9 || base.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(directory.c_str(), nullptr), &std::free);
  if (!real) return std::nullopt;
  const std::string process = "/proc/" + std::to_string(getpid());
  const std::string thread = process + "/task/" + std::to_string(syscall(SYS_gettid));
  if (real.get() != process + "/fd" && real.get() != thread + "/fd") return std::nullopt;
  return std::stoi(base);
}

// Where an output name leads, its symbolic links followed one by one.
struct Destination {
  enum class Kind {
    kNew,            // `path` does not exist: a new file
    kRegular,        // `path` is an existing regular file
    kDirect,         // `path` is written in place: a device, a pipe, a /proc link
    kOwnDescriptor,  // one of the tool's own descriptors
  };
  Kind kind;
  std::string path;
  struct stat status = {};
  int descriptor = -1;
};

Destination Resolve(const std::string &name) {
  std::string path = name;
  for (int hops = 0; hops <= 40; ++hops) {
    const std::string directory = DirectoryOf(path);
    // Links in /proc (what /dev/stdout and /dev/fd/N lead to) name open
    // files rather than paths: what they lead to is written, never replaced.
    struct statfs system;
    if (statfs(directory.c_str(), &system) == 0 && system.f_type == PROC_SUPER_MAGIC) {
      if (const std::optional<int> descriptor = OwnDescriptor(directory, BaseOf(path)))
        return {.kind = Destination::Kind::kOwnDescriptor, .path = path, .descriptor = *descriptor};
      return {.kind = Destination::Kind::kDirect, .path = path};
    }
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      if (errno == ENOENT) return {.kind = Destination::Kind::kNew, .path = path};
      ThrowErrno(name);
    }
    if (S_ISLNK(status.st_mode)) {
      // A link is written through: the file it leads to is the output.
      const std::string target = ReadLink(path, name);
      path = target.starts_with('/') ? target : directory + "/" + target;
      continue;
    }
    if (S_ISDIR(status.st_mode)) throw Failure(name, std::strerror(EISDIR));
    if (S_ISREG(status.st_mode)) return {.kind = Destination::Kind::kRegular, .path = path, .status = status};
    return {.kind = Destination::Kind::kDirect, .path = path};
  }
  throw Failure(name, std::strerror(ELOOP));
}

// Gives the unnamed file open on `fd` the name `path`. Without the
// capability that linking by descriptor needs, the file's /proc link
// serves, as for any user.
int LinkDescriptor(int fd, const std::string &path) {
  if (linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT && errno != EPERM) return -1;
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, link.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
}

// A hidden name beside `path` for a file on its way into place.
std::string HiddenNameBeside(const std::string &path) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::mt19937 random(std::random_device{}());
  std::string name = DirectoryOf(path) + "/." + BaseOf(path) + ".";
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

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

OutputFile::OutputFile(const std::string &name, bool replace) : replace_(replace) {
  if (name.empty()) throw UsageError("--output", "empty file name");
  if (name == "-") {
    name_ = kStandardOutput;
    fd_ = STDOUT_FILENO;
    return;
  }
  name_ = name;
  const Destination destination = Resolve(name);
  switch (destination.kind) {
    case Destination::Kind::kOwnDescriptor:
      // A descriptor of the tool is used as it is, at its own offset and
      // in its own mode, as the shell's redirection set it up.
      fd_ = fcntl(destination.descriptor, F_DUPFD_CLOEXEC, 0);
      if (fd_ < 0) ThrowErrno(name_);
      owned_ = true;
      return;
    case Destination::Kind::kDirect:
      fd_ = open(destination.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_TRUNC);
      if (fd_ < 0) ThrowErrno(name_);
      owned_ = true;
      synced_ = true;
      return;
    case Destination::Kind::kRegular:
      if (!replace_) throw Failure(name_, kExists);
      replaced_ = destination.status;
      break;
    case Destination::Kind::kNew:
      break;
  }
  target_ = destination.path;
  OpenTemporary();
}

// The file is created readable and writable by its owner only, which suits
// decoded data; a file it replaces passes on its mode when it is complete.
void OutputFile::OpenTemporary() {
  fd_ = open(DirectoryOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    owned_ = true;
    return;
  }
  // File systems without unnamed files: a hidden name, removed on failure
  // and on an interrupting signal.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) ThrowErrno(name_);
  std::string pattern = DirectoryOf(target_) + "/." + BaseOf(target_) + ".XXXXXX";
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) ThrowErrno(name_);
  owned_ = true;
  temporary_ = std::move(pattern);
  SetPendingTemporary(temporary_.c_str());
}

OutputFile::~OutputFile() {
  if (!committed_) Discard();
}

void OutputFile::Discard() noexcept {
  if (owned_ && fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) {
    SetPendingTemporary(nullptr);
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void OutputFile::Write(std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = write(fd_, bytes.data(), bytes.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(name_);
    }
    if (wrote == 0) throw Failure(name_, "write error");
    bytes = bytes.subspan(static_cast<std::size_t>(wrote));
  }
}

void OutputFile::Commit() {
  if (target_.empty()) {
    // Devices that cannot be synced (terminals, pipes) report EINVAL.
    if (synced_ && fsync(fd_) != 0 && errno != EINVAL) ThrowErrno(name_);
    if (owned_) {
      const int fd = fd_;
      fd_ = -1;
      if (close(fd) != 0) ThrowErrno(name_);
    }
    committed_ = true;
    return;
  }
  if (replaced_) {
    // The replaced file's owner where the tool may set it, then its mode
    // (after the owner: a change of owner clears set-id bits).
    if (fchown(fd_, replaced_->st_uid, replaced_->st_gid) != 0) (void)!fchown(fd_, -1, replaced_->st_gid);
    if (fchmod(fd_, replaced_->st_mode & 07777) != 0) ThrowErrno(name_);
  }
  // The data reaches the disk before it is given a name.
  if (fsync(fd_) != 0) ThrowErrno(name_);
  LinkIntoPlace();
  committed_ = true;
  close(fd_);
  fd_ = -1;
}

void OutputFile::LinkIntoPlace() {
  if (!temporary_.empty()) {
    // A named temporary file: renamed, over the target only if allowed.
    int renamed = -1;
    if (!replace_) {
      renamed = renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
      if (renamed != 0 && errno == EEXIST) throw Failure(name_, kExists);
      if (renamed != 0 && errno != EINVAL && errno != ENOSYS) ThrowErrno(name_);
    }
    if (renamed != 0 && std::rename(temporary_.c_str(), target_.c_str()) != 0) ThrowErrno(name_);
    SetPendingTemporary(nullptr);
    temporary_.clear();
    return;
  }
  // An unnamed file: linked as the target when there is none, which
  // fails if one has appeared meanwhile.
  if (!replaced_) {
    if (LinkDescriptor(fd_, target_) == 0) return;
    if (errno != EEXIST) ThrowErrno(name_);
    if (!replace_) throw Failure(name_, kExists);
  }
  // A file to replace: linked under a hidden name, then renamed over it.
  for (int attempt = 0; temporary_.empty(); ++attempt) {
    std::string hidden = HiddenNameBeside(target_);
    if (LinkDescriptor(fd_, hidden) == 0) {
      temporary_ = std::move(hidden);
    } else if (errno != EEXIST || attempt == 100) {
      ThrowErrno(name_);
    }
  }
  SetPendingTemporary(temporary_.c_str());
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) ThrowErrno(name_);
  SetPendingTemporary(nullptr);
  temporary_.clear();
}

}  // namespace compatcrypt::cli
