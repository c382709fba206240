// Input and output files of the tool. "-" names standard input or output.
// Inputs are read in chunks; an output file is written under a temporary
// name in its own directory and renamed into place only when complete, so
// that a failure leaves no output file (and an existing one untouched).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace compatcrypt::cli {

// The size of the chunks read and written: a whole number of cipher
// blocks and of digest blocks.
inline constexpr std::size_t kChunkSize = 64 * 1024;

class InputFile {
 public:
  explicit InputFile(const std::string &name);
  ~InputFile();
  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;

  // Fills `buffer` up to its size; fewer bytes only at the end of the data.
  std::size_t Read(std::span<std::byte> buffer);
  // Passes over the first `count` bytes (all of them if there are fewer).
  void Skip(std::uint64_t count);
  // The byte count of a regular file; unknown for pipes and terminals.
  std::optional<std::uint64_t> Size() const { return size_; }
  // The name errors are reported under.
  const std::string &Name() const { return name_; }

 private:
  std::string name_;
  std::FILE *stream_ = nullptr;
  bool owned_ = false;
  bool regular_ = false;
  std::optional<std::uint64_t> size_;
};

class OutputFile {
 public:
  explicit OutputFile(const std::string &name);
  // Without Commit(), removes the temporary file.
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  void Write(std::span<const std::byte> bytes);
  // Flushes and syncs everything, then puts the file in place.
  void Commit();

 private:
  void Discard() noexcept;

  std::string name_;       // as given, for messages
  std::string target_;     // the path renamed to; empty when written directly
  std::string temporary_;  // the path written; empty when written directly
  std::FILE *stream_ = nullptr;
  bool owned_ = false;
  bool committed_ = false;
};

}  // namespace compatcrypt::cli
