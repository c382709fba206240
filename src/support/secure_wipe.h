// Clearing of secrets (keys, key schedules, passwords, plain data) that the
// compiler may not drop as a dead store.
#pragma once

#include <cstddef>
#include <cstring>

namespace compatcrypt {

inline void SecureWipe(void *pointer, std::size_t size) noexcept {
  std::memset(pointer, 0, size);
  // The empty asm may read the whole of memory, so the memset above is live.
  __asm__ __volatile__("" : : "r"(pointer) : "memory");
}

template <typename T>
inline void SecureWipe(T &object) noexcept {
  SecureWipe(&object, sizeof object);
}

}  // namespace compatcrypt
