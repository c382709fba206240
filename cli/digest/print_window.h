// Results printed in the order their files were asked for, while the
// pipeline digests ahead: entries wait in a window, and once it holds more
// than the pipeline's window the oldest are printed until half as many
// wait, so that files are handed to the workers in batches. With one job
// (a window of 0) each entry is printed as soon as it is added.
#pragma once

#include <cstddef>
#include <deque>
#include <utility>

namespace compatcrypt::cli {

template <typename Entry, typename Print>
class PrintWindow {
 public:
  PrintWindow(std::size_t window, Print print) : window_(window), print_(std::move(print)) {}
  ~PrintWindow() = default;
  PrintWindow(const PrintWindow &) = delete;
  PrintWindow &operator=(const PrintWindow &) = delete;

  void Add(Entry entry) {
    waiting_.push_back(std::move(entry));
    if (waiting_.size() > window_)
      while (waiting_.size() > window_ / 2) PrintOldest();
  }

  // Prints every entry still waiting.
  void Drain() {
    while (!waiting_.empty()) PrintOldest();
  }

 private:
  void PrintOldest() {
    Entry entry = std::move(waiting_.front());
    waiting_.pop_front();
    print_(std::move(entry));
  }

  std::size_t window_;
  Print print_;
  std::deque<Entry> waiting_;
};

}  // namespace compatcrypt::cli
