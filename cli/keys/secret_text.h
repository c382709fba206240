// Key and password text in memory of the tool's own that is wiped when it
// goes. Secret bytes are moved one at a time through volatile pointers: a
// library routine (memcpy, memchr, memcmp) or a vectorised loop would pass
// them through vector registers, which the dynamic linker's lazy binding
// and signal delivery save on the stack, out of reach of any wipe.
#pragma once

#include <cstddef>
#include <string_view>

#include "compatcrypt.hpp"

namespace compatcrypt::cli {

void CopyBytes(char *to, const char *from, std::size_t count);

// The offset of the first `c` in `bytes`, or `count`.
std::size_t Find(const char *bytes, std::size_t count, char c);

// Compares in a time that does not depend on where the texts differ.
bool SameText(std::string_view a, std::string_view b);

// Key or password text in a buffer of its own: SecureBytes, which wipes
// its memory when it goes. Growing copies byte by byte (CopyBytes) into a
// new buffer rather than letting the vector move the bytes.
class Secret {
 public:
  Secret() = default;
  Secret(const Secret &) = delete;
  Secret &operator=(const Secret &) = delete;

  void Append(const char *bytes, std::size_t count) {
    if (size_ + count > text_.size()) Grow(std::max(2 * text_.size(), size_ + count));
    CopyBytes(Chars() + size_, bytes, count);
    size_ += count;
  }
  void DropLast() { Chars()[--size_] = '\0'; }
  std::string_view View() const { return {reinterpret_cast<const char *>(text_.data()), size_}; }
  void Wipe() {
    secure_wipe(text_.data(), text_.size());
    size_ = 0;
  }

 private:
  char *Chars() { return reinterpret_cast<char *>(text_.data()); }

  void Grow(std::size_t capacity) {
    SecureBytes larger(std::max<std::size_t>(capacity, 64));
    CopyBytes(reinterpret_cast<char *>(larger.data()), Chars(), size_);
    text_.swap(larger);
  }

  SecureBytes text_;
  std::size_t size_ = 0;
};

}  // namespace compatcrypt::cli
