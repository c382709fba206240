// How the constant-time check marks secrets, for either checker: valgrind's
// memcheck (the program runs under valgrind, on the engines valgrind shows
// it) or MemorySanitizer (the program and the library are built with it and
// run natively, on every engine the CPU has). Both track which bits come
// from memory marked undefined and report a branch or an address computed
// from them.
#pragma once

#include <cstddef>
#include <vector>

#if defined(__has_feature)
#if __has_feature(memory_sanitizer)
#define CT_NATIVE 1
#endif
#endif

#if defined(CT_NATIVE)
#include <sanitizer/msan_interface.h>
#else
#include <valgrind/memcheck.h>
#endif

namespace ct {

#if defined(CT_NATIVE)

inline constexpr const char *kChecker = "MemorySanitizer";
inline bool UnderChecker() { return true; }
inline void Secret(const void *p, std::size_t n) { __msan_poison(p, n); }
inline void Public(const void *p, std::size_t n) { __msan_unpoison(p, n); }
// Shadow bits: 1 = undefined.
inline void SecretBits(const void *p, const unsigned char *undefinedBits, std::size_t n) {
  __msan_partial_poison(p, const_cast<unsigned char *>(undefinedBits), n);
}

#else

inline constexpr const char *kChecker = "valgrind memcheck";
inline bool UnderChecker() { return RUNNING_ON_VALGRIND; }
inline void Secret(const void *p, std::size_t n) { VALGRIND_MAKE_MEM_UNDEFINED(p, n); }
inline void Public(const void *p, std::size_t n) { VALGRIND_MAKE_MEM_DEFINED(p, n); }
// V bits: 1 = undefined.
inline void SecretBits(const void *p, const unsigned char *undefinedBits, std::size_t n) {
  VALGRIND_SET_VBITS(p, undefinedBits, n);
}

#endif

}  // namespace ct
