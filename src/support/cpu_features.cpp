#include "support/cpu_features.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace compatcrypt {

namespace {

#if defined(__x86_64__) || defined(__i386__)

// The register state the OS saves (XCR0); zero when the OS has not enabled
// XSAVE, where XGETBV itself would fault.
uint64_t SavedRegisterState(unsigned leaf1Ecx) {
  if ((leaf1Ecx & (1u << 27)) == 0) return 0;  // OSXSAVE
  uint32_t low, high;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (uint64_t{high} << 32) | low;
}

constexpr uint64_t kAvxState = 0x6;      // XMM and the upper halves of YMM
constexpr uint64_t kAvx512State = 0xE6;  // and opmasks, upper ZMM, ZMM16-31

CpuFeatures Probe() {
  unsigned a, b, c1, d;
  if (__get_cpuid(1, &a, &b, &c1, &d) == 0) return {};
  unsigned b7 = 0, c7 = 0;
  if (__get_cpuid_count(7, 0, &a, &b7, &c7, &d) == 0) b7 = 0;
  const uint64_t saved = SavedRegisterState(c1);
  uint32_t f = 0;
  const auto set = [&f](uint32_t feature, bool present) {
    if (present) f |= feature;
  };
  set(kSse41, (c1 & (1u << 19)) != 0);
  set(kSha, (f & kSse41) != 0 && (b7 & (1u << 29)) != 0);
  const bool avx = (c1 & (1u << 28)) != 0 && (saved & kAvxState) == kAvxState;
  set(kAvx2, avx && (b7 & (1u << 5)) != 0);
  // Code built with -mavx512f may use AVX2 as well: both are required.
  const bool avx512 = (f & kAvx2) != 0 && (b7 & (1u << 16)) != 0 && (saved & kAvx512State) == kAvx512State;
  set(kAvx512f, avx512);
  set(kAvx512bw, avx512 && (b7 & (1u << 30)) != 0);
  set(kAvx512cd, avx512 && (b7 & (1u << 28)) != 0);
  set(kAvx512vl, avx512 && (b7 & (1u << 31)) != 0);
  set(kAvx512vbmi, avx512 && (c7 & (1u << 1)) != 0);
  set(kAvx512bitalg, avx512 && (c7 & (1u << 12)) != 0);
  return {f};
}

#else

CpuFeatures Probe() { return {}; }

#endif

}  // namespace

const CpuFeatures &Cpu() {
  static const CpuFeatures features = Probe();
  return features;
}

}  // namespace compatcrypt
