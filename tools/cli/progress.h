// A progress bar on stderr for long inputs: shown only when stderr is a
// terminal and the input is a file of known size over 4 MiB, so that
// scripts and short runs never see it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace compatcrypt::cli {

class Progress {
 public:
  Progress(const std::string &name, std::optional<std::uint64_t> total);
  // Clears the bar.
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void Advance(std::uint64_t bytes);

 private:
  void Draw();

  std::string name_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  int shownPercent_ = -1;
  bool enabled_ = false;
};

}  // namespace compatcrypt::cli
