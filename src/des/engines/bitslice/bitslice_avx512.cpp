// The bitsliced engine on AVX-512: 512 blocks a pass in 512-bit words,
// three-input gates (vpternlog), each key mask broadcast from memory
// straight into the gate that uses it.
#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector,
// which its own uninitialized checks then report.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "des/engines/bitslice/bitslice_rounds.h"
#include "support/declared_instructions.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

struct Gates {
  using V = __m512i;
  static V And(V a, V b) { return _mm512_and_si512(a, b); }
  static V Or(V a, V b) { return _mm512_or_si512(a, b); }
  static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
  static V AndNot(V a, V b) { return _mm512_andnot_si512(a, b); }
  static V Not(V a) { return declared::TernaryLogic<0x55>(a, a, a); }
  template <unsigned Imm>
  static V Lut(V a, V b, V c) {
    return declared::TernaryLogic<Imm>(a, b, c);
  }
  static V XorAnd(V a, V b, V m) { return declared::TernaryLogic<0x28>(a, b, m); }
  template <int S>
  static V Shr(V a) {
    return _mm512_srli_epi64(a, S);
  }
  template <int S>
  static V Shl(V a) {
    return _mm512_slli_epi64(a, S);
  }
  static V Constant(uint64_t c) { return _mm512_set1_epi64(static_cast<long long>(c)); }
  static V Load(const unsigned char *p) { return _mm512_loadu_si512(p); }
  // XOR in 32-bit elements, so that the mask's broadcast folds into the
  // instruction as a memory operand ({1to16}).
  static V XorMask(V a, uint32_t mask) {
    return _mm512_xor_epi32(a, _mm512_set1_epi32(static_cast<int>(mask)));
  }
};

template <bool Decrypt>
void Crypt(const BitsliceKeys &keys, const unsigned char *in, uint64_t *blocks) {
  __m512i scratch[64];
  bitslice::CryptPass<true, Gates, __m512i, Decrypt>(keys, in, reinterpret_cast<__m512i *>(blocks), scratch);
  SecureWipe(scratch);
}

}  // namespace

const BitsliceDesEngine kBitsliceAvx512 = {"avx512", 512, Crypt<false>, Crypt<true>};

}  // namespace compatcrypt::des
