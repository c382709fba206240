#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace compatcrypt::cli {

namespace {

constexpr std::uint64_t kShownAbove = 4u << 20;
constexpr int kBarWidth = 40;

}  // namespace

Progress::Progress(const std::string &name, std::optional<std::uint64_t> total) : name_(name) {
  enabled_ = total && *total > kShownAbove && isatty(STDERR_FILENO);
  if (enabled_) total_ = *total;
  Draw();
}

Progress::~Progress() {
  // Erase the line so that messages after it start clean.
  if (enabled_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Advance(std::uint64_t bytes) {
  done_ += bytes;
  Draw();
}

void Progress::Draw() {
  if (!enabled_) return;
  const int percent = static_cast<int>((done_ < total_ ? done_ : total_) * 100 / total_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  const int filled = percent * kBarWidth / 100;
  std::fprintf(stderr, "\r%s [%-*s] %3d%%", name_.c_str(), kBarWidth, std::string(filled, '#').c_str(),
               percent);
  std::fflush(stderr);
}

}  // namespace compatcrypt::cli
