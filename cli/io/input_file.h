// An input file of the tool. "-" names standard input.
//
// Data moves with read(2) straight into the caller's buffers, so that no
// buffer of the C library is left holding plain data: the callers' buffers
// wipe themselves.
//
// An input that is a regular file must not change while it is read: its
// size and modification time are taken when it is opened, and reading ends
// with an error if the data ends early, runs past that size, or the size
// or the time differs at the end. Reading by position (ReadAt, then
// CheckUnchanged) keeps the same checks. Files of the kernel's own file
// systems (/proc, /sys), whose sizes say nothing of their data, are read as
// streams to their end.
#pragma once

#include <sys/stat.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace compatcrypt::cli {

// The size of the chunks read and written: a whole number of cipher
// blocks and of digest blocks.
inline constexpr std::size_t kChunkSize = 64 * 1024;

// Whether `status` is that of the file standard input is open on.
bool IsStandardInputFile(const struct stat &status);

class InputFile {
 public:
  explicit InputFile(const std::string &name);
  ~InputFile();
  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;

  // Fills `buffer` up to its size; fewer bytes only at the end of the data.
  // Throws Failure if a regular file turns out to have changed.
  std::size_t Read(std::span<std::byte> buffer);
  // Passes over the next `count` bytes (all of them if there are fewer).
  void Skip(std::uint64_t count);
  // Regular files only: fills `buffer` with the bytes from `from` on,
  // counted from where reading starts (as Size() is), without moving the
  // read position, so that several threads may read one file at once. The
  // bytes must lie within Size(). Throws Failure if the data ends sooner.
  void ReadAt(std::uint64_t from, std::span<std::byte> buffer) const;
  // Regular files: moves the descriptor's position to `done` bytes from
  // where reading starts, so that it shows how far the data has been read
  // in order, as sequential reading shows it (to a viewer of the
  // descriptor, and to the checks at the end). ReadAt does not use it.
  void ShowReadUpTo(std::uint64_t done) const;
  // Regular files only, once ReadAt has read every byte: throws Failure if
  // the file has data past its size at opening or its size has changed.
  void CheckUnchanged() const;
  // The byte count from where reading starts to the end of a regular file;
  // unknown for pipes and terminals.
  std::optional<std::uint64_t> Size() const { return size_; }
  // The name errors are reported under.
  const std::string &Name() const { return name_; }
  // Whether the data is this process's standard input ("-", or its stream
  // named again as /dev/stdin or /dev/fd/0).
  bool IsStandardInput() const { return standardInput_; }

 private:
  void CheckEnd();
  void CheckStatus() const;

  std::string name_;
  int fd_ = -1;
  bool owned_ = false;
  bool regular_ = false;
  bool standardInput_ = false;
  std::uint64_t position_ = 0;     // regular files: the offset reached
  std::uint64_t expectedEnd_ = 0;  // regular files: the size at opening
  timespec modified_{};            // regular files: the modification time at opening
  std::optional<std::uint64_t> size_;
};

}  // namespace compatcrypt::cli
