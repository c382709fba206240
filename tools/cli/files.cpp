#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "failure.h"
#include "signals.h"

namespace compatcrypt::cli {

namespace {

constexpr const char *kStandardInput = "standard input";
constexpr const char *kStandardOutput = "standard output";

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

}  // namespace

InputFile::InputFile(const std::string &name) {
  if (name == "-") {
    name_ = kStandardInput;
    stream_ = stdin;
  } else {
    name_ = name;
    stream_ = std::fopen(name.c_str(), "rb");
    if (stream_ == nullptr) ThrowErrno(name_);
    owned_ = true;
  }
  struct stat status;
  if (fstat(fileno(stream_), &status) != 0) ThrowErrno(name_);
  regular_ = S_ISREG(status.st_mode);
  if (regular_) size_ = static_cast<std::uint64_t>(status.st_size);
}

InputFile::~InputFile() {
  if (owned_) std::fclose(stream_);
}

std::size_t InputFile::Read(std::span<std::byte> buffer) {
  const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), stream_);
  if (got < buffer.size() && std::ferror(stream_)) ThrowErrno(name_);
  return got;
}

void InputFile::Skip(std::uint64_t count) {
  if (count == 0) return;
  if (regular_ && count <= static_cast<std::uint64_t>(INT64_MAX)) {
    // Seek relative to where the stream is: standard input may not start
    // at the beginning of its file.
    if (fseeko(stream_, static_cast<off_t>(count), SEEK_CUR) != 0) ThrowErrno(name_);
    return;
  }
  std::vector<std::byte> discard(kChunkSize);
  while (count != 0) {
    const std::size_t want = count < discard.size() ? static_cast<std::size_t>(count) : discard.size();
    const std::size_t got = Read(std::span(discard).first(want));
    if (got == 0) return;
    count -= got;
  }
}

OutputFile::OutputFile(const std::string &name) {
  if (name == "-") {
    name_ = kStandardOutput;
    stream_ = stdout;
    return;
  }
  name_ = name;
  owned_ = true;
  // Devices and pipes (/dev/null, a FIFO) are written in place: there is
  // nothing to rename, and no temporary file may be left beside them.
  struct stat status;
  if (stat(name.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    if (S_ISDIR(status.st_mode)) throw Failure(name_, std::strerror(EISDIR));
    stream_ = std::fopen(name.c_str(), "wb");
    if (stream_ == nullptr) ThrowErrno(name_);
    return;
  }
  target_ = name;
  std::string pattern = DirectoryOf(name) + "/." + BaseOf(name) + ".XXXXXX";
  // mkstemp creates the file readable and writable by its owner only,
  // which suits decoded data; the rename keeps that mode.
  const int fd = mkstemp(pattern.data());
  if (fd < 0) ThrowErrno(name_);
  temporary_ = std::move(pattern);
  SetPendingTemporary(temporary_.c_str());
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    const int cause = errno;
    close(fd);
    Discard();
    throw Failure(name_, std::strerror(cause));
  }
}

OutputFile::~OutputFile() {
  if (!committed_) Discard();
}

void OutputFile::Discard() noexcept {
  if (owned_ && stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) {
    SetPendingTemporary(nullptr);
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

void OutputFile::Write(std::span<const std::byte> bytes) {
  if (bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) ThrowErrno(name_);
}

void OutputFile::Commit() {
  if (std::fflush(stream_) != 0) ThrowErrno(name_);
  if (!owned_) {
    if (std::ferror(stream_)) throw Failure(name_, "write error");
    committed_ = true;
    return;
  }
  // Devices and pipes that cannot be synced report EINVAL; a regular file
  // must reach the disk before it replaces anything.
  if (fsync(fileno(stream_)) != 0 && (!target_.empty() || errno != EINVAL)) ThrowErrno(name_);
  std::FILE *stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0) ThrowErrno(name_);
  if (!target_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) ThrowErrno(name_);
  SetPendingTemporary(nullptr);
  temporary_.clear();
  committed_ = true;
}

}  // namespace compatcrypt::cli
