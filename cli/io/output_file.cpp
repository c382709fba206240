#include "io/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "io/paths.h"
#include "support/failure.h"
#include "support/signals.h"

namespace compatcrypt::cli {

namespace {

constexpr const char *kStandardOutput = "standard output";
constexpr const char *kExists = "file exists; --force replaces it";

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

}  // namespace

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
