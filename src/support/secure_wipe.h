// Clearing of secrets (key schedules, derived keys, plain blocks) that the
// compiler may not drop as a dead store.
#pragma once

#include <cstddef>
#include <cstring>

namespace compatcrypt {

inline void SecureWipe(void *pointer, std::size_t size) noexcept {
  std::memset(pointer, 0, size);
#if defined(__GNUC__) || defined(__clang__)
  // The empty asm may read the whole of memory, so the memset above is live.
  __asm__ __volatile__("" : : "r"(pointer) : "memory");
#else
  volatile unsigned char *bytes = static_cast<volatile unsigned char *>(pointer);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
#endif
}

template <typename T>
inline void SecureWipe(T &object) noexcept {
  SecureWipe(&object, sizeof object);
}

}  // namespace compatcrypt
