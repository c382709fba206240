// Reads a fuzzer input front to back; past its end every byte reads as 0,
// so any input, the empty one included, gives a complete set of choices.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace compatcrypt::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word16() { return Byte() | (static_cast<uint32_t>(Byte()) << 8); }
  uint32_t Word24() { return Word16() | (static_cast<uint32_t>(Byte()) << 16); }

  // Everything not read yet.
  std::vector<unsigned char> Rest() {
    std::vector<unsigned char> rest(data_ + std::min(pos_, size_), data_ + size_);
    pos_ = size_;
    return rest;
  }

 private:
  const uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// `count` raw cut words, read before the data whose length places them.
inline std::vector<uint32_t> CutWords(FuzzInput &in, std::size_t count) {
  std::vector<uint32_t> words;
  for (std::size_t i = 0; i < count; ++i) words.push_back(in.Word16());
  return words;
}

// The cut words as points in [0, size], in order, with 0 and size added:
// consecutive points bound the pieces (some of them empty).
inline std::vector<std::size_t> CutPoints(const std::vector<uint32_t> &words, std::size_t size) {
  std::vector<std::size_t> cuts{0, size};
  for (uint32_t w : words) cuts.push_back(w % (size + 1));
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

[[noreturn]] inline void Mismatch(const char *what) {
  std::fprintf(stderr, "compatcrypt fuzz mismatch: %s\n", what);
  std::abort();
}

#define COMPATCRYPT_FUZZ_CHECK(cond)                   \
  do {                                                 \
    if (!(cond)) ::compatcrypt::fuzz::Mismatch(#cond); \
  } while (0)

}  // namespace compatcrypt::fuzz
