// An output file of the tool. "-" names standard output.
//
// Data moves with write(2) straight from the caller's buffers. A regular
// output file is written as an unnamed file in the target's directory and
// linked into place only when it is complete and synced, so that neither a
// failure nor a kill leaves a partial file behind. An existing file is
// replaced only when the caller allows it. Anything else (a device, a
// pipe, one of the tool's own descriptors reached as /dev/stdout,
// /dev/fd/N or /proc/self/fd/N) is written directly.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace compatcrypt::cli {

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
