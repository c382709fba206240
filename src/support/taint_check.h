// Hooks for the native constant-time check: a build with clang's
// MemorySanitizer (COMPATCRYPT_TAINT_CHECK) whose driver marks keys,
// passwords and plain data uninitialised, so that the sanitizer reports
// every branch and every memory address computed from a secret. In every
// other build these hooks are nothing.
//
// The sanitizer follows ordinary arithmetic bit by bit, but handles a few
// instructions strictly: any tainted operand is reported at once, although
// these instructions take the same time whatever their operands. Each such
// instruction is declared below through `Declared`, which in the checking
// build runs it on untainted copies and taints its whole result when any
// operand was tainted: the taint flows on, so a secret branch or address
// further on is still found. Nothing else is exempted, and the check fails
// on any report.
#pragma once

#include <cstddef>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(memory_sanitizer)
#define COMPATCRYPT_TAINT_CHECK_BUILD 1
#include <sanitizer/msan_interface.h>
#endif
#endif

namespace compatcrypt::taint {

#if defined(COMPATCRYPT_TAINT_CHECK_BUILD)

template <typename T>
inline bool Tainted(const T &value) {
  return __msan_test_shadow(&value, sizeof value) >= 0;
}

// `op(args...)` for an instruction whose timing does not depend on its
// operands (the declared list is in the callers' headers, each with the
// instruction and the reason).
template <typename Op, typename... Args>
[[gnu::always_inline]] inline auto Declared(Op op, Args... args) {
  const bool tainted = (false || ... || Tainted(args));
  (__msan_unpoison(&args, sizeof args), ...);
  auto result = op(args...);
  if (tainted) __msan_poison(&result, sizeof result);
  return result;
}

// The controls. In the checking build each engine hands a value computed
// from the secrets to `Control` once a call; the driver can have a branch
// or a table lookup made on it there, which the check must then report,
// with that engine's code on the stack: a check that reports nothing there
// is blind.
enum class ControlKind { kNone, kBranch, kIndex };
inline ControlKind control = ControlKind::kNone;
inline volatile unsigned controlSink;

template <typename T>
[[gnu::noinline]] void Control(const T &secret) {
  if (control == ControlKind::kNone) return;
  unsigned char byte;
  std::memcpy(&byte, &secret, 1);
  static constexpr unsigned char kTable[256] = {1};
  if (control == ControlKind::kBranch) {
    // A store to a volatile on one path only: no compiler may make it
    // unconditional, so this stays a real branch.
    if (byte & 1) controlSink = 1;
  } else {
    controlSink = kTable[byte];
  }
}

#else

template <typename Op, typename... Args>
[[gnu::always_inline]] inline auto Declared(Op op, Args... args) {
  return op(args...);
}

template <typename T>
inline void Control(const T &) {}

#endif

// The length of a NUL-terminated password. The length is public: finding
// it tests each byte against zero, which reveals whether the byte is zero
// and nothing else. The check's driver marks each byte's "not zero" as
// known and its value as secret; the sanitizer's strlen checks whole bytes,
// so the checking build counts with a loop, whose comparisons the
// sanitizer follows bit by bit.
inline std::size_t PasswordLength(const unsigned char *password) {
#if defined(COMPATCRYPT_TAINT_CHECK_BUILD)
  std::size_t n = 0;
  while (password[n] != 0) ++n;
  return n;
#else
  return std::strlen(reinterpret_cast<const char *>(password));
#endif
}

}  // namespace compatcrypt::taint
