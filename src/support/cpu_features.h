// The CPU's instruction-set features, probed once, as bits named the way
// the compiler's -m options name them. A feature counts only where the CPU
// has it and, for the wide vector registers, the operating system saves
// them across context switches (XGETBV), not by CPUID alone.
#pragma once

#include <cstdint>
#include <string_view>

namespace compatcrypt {

enum CpuFeature : uint32_t {
  kSse41 = 1u << 0,
  kSha = 1u << 1,  // the SHA extensions (SHA1RNDS4 and friends)
  kAvx2 = 1u << 2,
  kAvx512f = 1u << 3,
  // The AVX-512 extensions beside AVX-512F: byte and word elements, 128-
  // and 256-bit forms, conflict detection (mask broadcasts), byte permutes
  // and bit gathers.
  kAvx512bw = 1u << 4,
  kAvx512vl = 1u << 5,
  kAvx512cd = 1u << 6,
  kAvx512vbmi = 1u << 7,
  kAvx512bitalg = 1u << 8,
};

struct CpuFeatureName {
  std::string_view name;  // as in the compiler option -m<name>
  uint32_t bit;
};

inline constexpr CpuFeatureName kCpuFeatureNames[] = {
    {"sse4.1", kSse41},
    {"sha", kSha},
    {"avx2", kAvx2},
    {"avx512f", kAvx512f},
    {"avx512bw", kAvx512bw},
    {"avx512vl", kAvx512vl},
    {"avx512cd", kAvx512cd},
    {"avx512vbmi", kAvx512vbmi},
    {"avx512bitalg", kAvx512bitalg},
};

// The features named in `names`, separated by spaces. A name not in the
// table throws, which fails the build where the call is a constant.
constexpr uint32_t FeaturesNamed(std::string_view names) {
  uint32_t bits = 0;
  while (!names.empty()) {
    const std::size_t end = names.find(' ');
    const std::string_view name = names.substr(0, end);
    if (!name.empty()) {
      uint32_t bit = 0;
      for (const CpuFeatureName &known : kCpuFeatureNames)
        if (known.name == name) bit = known.bit;
      if (bit == 0) throw "unknown CPU feature";
      bits |= bit;
    }
    names = end == std::string_view::npos ? std::string_view{} : names.substr(end + 1);
  }
  return bits;
}

struct CpuFeatures {
  uint32_t bits = 0;
  constexpr bool Has(uint32_t needed) const { return (bits & needed) == needed; }
};

// Probed on first use and kept; none on CPUs other than x86.
const CpuFeatures &Cpu();

}  // namespace compatcrypt
