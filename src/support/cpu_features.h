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
  // The AVX-512 extensions beside AVX-512F: byte and word elements (every
  // AVX-512 engine is built with them; the digest's byte swap uses them),
  // and for the serial DES engine 128/256-bit forms, mask broadcasts (CD),
  // byte permutes (VBMI) and bit gathers (BITALG).
  bool avx512bw = false;
  bool avx512vl = false;
  bool avx512cd = false;  // conflict detection: the serial engine's mask broadcasts
  bool avx512vbmi = false;
  bool avx512bitalg = false;
};

// Probed on first use and kept; all false on CPUs other than x86.
const CpuFeatures &Cpu();

}  // namespace compatcrypt
