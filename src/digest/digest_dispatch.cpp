// The one place that picks the digest engine: the first time a digest runs,
// the fastest engine the CPU supports is chosen and kept. The x86 engines
// live in files of their own built with their instruction-set flags; this
// file is built without them and calls one only after checking the CPU.
#include <array>
#include <atomic>
#include <cstdint>

#include "digest/digest_constants.h"
#include "digest/digest_engine.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace compatcrypt::digest_core {

namespace {

struct Candidate {
  DigestEngine engine;
  bool (*supported)();
};

bool Always() { return true; }

#if defined(__x86_64__) || defined(__i386__)

// The register state the OS saves across context switches (XCR0); zero
// when the OS has not enabled XSAVE, where XGETBV itself would fault.
uint64_t SavedRegisterState() {
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & (1u << 27)) == 0) return 0;  // OSXSAVE
  uint32_t low, high;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (uint64_t{high} << 32) | low;
}

// An instruction set is usable only if the CPU has it and the OS saves its
// registers. The CPU bits come from __builtin_cpu_supports; the OS side is
// checked here as well rather than relying on that one to do it.
constexpr uint64_t kSseAvxState = 0x6;   // XMM and YMM upper halves
constexpr uint64_t kAvx512State = 0xE6;  // and opmask, ZMM upper halves, ZMM16-31

bool HasShani() {
  __builtin_cpu_init();
  unsigned a, b, c, d;
  // CPUID.(7,0):EBX bit 29; SSE4.1 for the loads and lane arithmetic.
  return __builtin_cpu_supports("sse4.1") && __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 &&
         (b & (1u << 29)) != 0;
}

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && (SavedRegisterState() & kSseAvxState) == kSseAvxState;
}

// -mavx512f lets the compiler use AVX2 as well, so both are required.
bool HasAvx512() {
  __builtin_cpu_init();
  return HasAvx2() && __builtin_cpu_supports("avx512f") &&
         (SavedRegisterState() & kAvx512State) == kAvx512State;
}

// A wide pass costs the same for one block as for all its lanes, and one
// pass of eight (AVX2) or sixteen (AVX-512) lanes takes about as long as
// five blocks on SHA-NI: shorter runs, such as the one or two blocks of a
// short message or the blocks left over after whole passes, go to SHA-NI
// where the CPU has it.
constexpr std::size_t kShortRun = 5;

bool ShortRunsOnShani() {
  static const bool shani = HasShani();
  return shani;
}

template <DigestBlocksFunction Wide, std::size_t Lanes>
void WideThenShort(const unsigned char *blocks, std::size_t count, DigestSums &sums) {
  const std::size_t rest = count % Lanes;
  if (rest >= kShortRun || !ShortRunsOnShani()) {
    Wide(blocks, count, sums);
    return;
  }
  if (count != rest) Wide(blocks, count - rest, sums);
  if (rest != 0) DigestBlocksShani(blocks + (count - rest) * kBlockSize, rest, sums);
}

#endif

// Slowest first; the last supported one becomes the default. Measured on a
// Xeon with all four, in GiB/s: SHA-NI about 2.0, AVX2 3.3, AVX-512 7.0.
constexpr std::array kCandidates = {
    Candidate{{"portable", DigestBlocksPortable}, Always},
#if defined(__x86_64__) || defined(__i386__)
    Candidate{{"shani", DigestBlocksShani}, HasShani},
    Candidate{{"avx2", WideThenShort<DigestBlocksAvx2, 8>}, HasAvx2},
    Candidate{{"avx512", WideThenShort<DigestBlocksAvx512, 16>}, HasAvx512},
#endif
};

struct EngineList {
  std::array<DigestEngine, kCandidates.size()> engines{};
  std::size_t count = 0;
};

const EngineList &Engines() {
  static const EngineList list = [] {
    EngineList probed;
    for (const Candidate &candidate : kCandidates)
      if (candidate.supported()) probed.engines[probed.count++] = candidate.engine;
    return probed;
  }();
  return list;
}

std::atomic<const DigestEngine *> &ActiveSlot() {
  static std::atomic<const DigestEngine *> active{&Engines().engines[Engines().count - 1]};
  return active;
}

}  // namespace

std::span<const DigestEngine> AvailableDigestEngines() { return {Engines().engines.data(), Engines().count}; }

const DigestEngine &ActiveDigestEngine() { return *ActiveSlot().load(std::memory_order_relaxed); }

bool UseDigestEngine(std::string_view name) {
  for (const DigestEngine &engine : AvailableDigestEngines()) {
    if (engine.name == name) {
      ActiveSlot().store(&engine, std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

void DigestBlocks(const unsigned char *blocks, std::size_t count, DigestSums &sums) {
  ActiveDigestEngine().blocks(blocks, count, sums);
}

}  // namespace compatcrypt::digest_core
