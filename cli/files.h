// Input and output files of the tool. "-" names standard input or output.
//
// Both sides move data with read(2) and write(2) straight between the
// caller's buffers and the file, so that no buffer of the C library is left
// holding plain data: the callers' buffers wipe themselves.
//
// An input that is a regular file must not change while it is read: its
// size and modification time are taken when it is opened, and reading ends
// with an error if the data ends early, runs past that size, or the size
// or the time differs at the end. Reading by position (ReadAt, then
// CheckUnchanged) keeps the same checks. Files of the kernel's own file
// systems (/proc, /sys), whose sizes say nothing of their data, are read as
// streams to their end.
//
// A regular output file is written as an unnamed file in the target's
// directory and linked into place only when it is complete and synced, so
// that neither a failure nor a kill leaves a partial file behind. An
// existing file is replaced only when the caller allows it. Anything else
// (a device, a pipe, one of the tool's own descriptors reached as
// /dev/stdout, /dev/fd/N or /proc/self/fd/N) is written directly.
#pragma once

#include <sys/stat.h>

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

class OutputFile {
 public:
  // Refuses an existing regular file unless `replace`.
  OutputFile(const std::string &name, bool replace);
  // Without Commit(), nothing is put in place.
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  void Write(std::span<const std::byte> bytes);
  // Syncs everything, then puts the file in place.
  void Commit();

 private:
  void OpenTemporary();
  void LinkIntoPlace();
  void Discard() noexcept;

  std::string name_;       // as given, for messages
  std::string target_;     // the path put in place; empty when written directly
  std::string temporary_;  // a named temporary file; empty when unnamed or direct
  int fd_ = -1;
  bool owned_ = false;                   // fd_ is closed by this object
  bool synced_ = false;                  // a directly written device is synced on Commit
  bool replace_ = false;                 // an existing target may be replaced
  std::optional<struct stat> replaced_;  // the existing target's status
  bool committed_ = false;
};

}  // namespace compatcrypt::cli
