// The CPU's instruction sets, probed once. An instruction set counts only
// where the CPU has it and, for the wide vector registers, the operating
// system saves them across context switches (XGETBV), not by CPUID alone.
#pragma once

namespace compatcrypt {

struct CpuFeatures {
  bool sse41 = false;
  bool sha = false;  // the SHA extensions (SHA1RNDS4 and friends)
  bool avx2 = false;
  bool avx512f = false;
};

// Probed on first use and kept; all false on CPUs other than x86.
const CpuFeatures &Cpu();

}  // namespace compatcrypt
