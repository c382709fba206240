#include "keys/secret_text.h"

namespace compatcrypt::cli {

void CopyBytes(char *to, const char *from, std::size_t count) {
  volatile char *target = to;
  const volatile char *source = from;
  for (std::size_t i = 0; i < count; ++i) target[i] = source[i];
}

std::size_t Find(const char *bytes, std::size_t count, char c) {
  const volatile char *source = bytes;
  std::size_t at = 0;
  while (at < count && source[at] != c) ++at;
  return at;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const volatile char *left = a.data();
  const volatile char *right = b.data();
  unsigned difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    difference |= static_cast<unsigned char>(left[i]) ^ static_cast<unsigned char>(right[i]);
  return difference == 0;
}

}  // namespace compatcrypt::cli
