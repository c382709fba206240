// A progress line on stderr for long inputs: shown only when stderr is a
// terminal and the input is a file of known size over 4 MiB, so that
// scripts and short runs never see it. The line is fitted to the
// terminal's width on every redraw (a long name is shortened in the
// middle), so that it never wraps and "\r" always returns to its start:
//
//   name  [#####     ]  45%  123.4 MiB/s  12.3 MiB of 27.0 MiB  0:07 left
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace compatcrypt::cli {

class Progress {
 public:
  Progress(const std::string &name, std::optional<std::uint64_t> total);
  // Clears the line.
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void Advance(std::uint64_t bytes);

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(Clock::time_point now);

  std::string name_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  Clock::time_point start_;
  Clock::time_point drawn_;
  bool enabled_ = false;
};

}  // namespace compatcrypt::cli
