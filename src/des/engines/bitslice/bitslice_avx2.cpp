// The bitsliced engine on AVX2: 256 blocks a pass in 256-bit words, two-
// input gates (AVX2 has no three-input logic).
#include <immintrin.h>

#include "des/engines/bitslice/bitslice_rounds.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

struct Gates {
  using V = __m256i;
  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
  static V Not(V a) { return _mm256_xor_si256(a, _mm256_set1_epi32(-1)); }
  template <unsigned Imm>
  static V Lut(V a, V b, V c) {
    V r = _mm256_setzero_si256();
    for (unsigned i = 0; i < 8; ++i)
      if ((Imm >> i) & 1)
        r = Or(r, And(And((i & 4) ? a : Not(a), (i & 2) ? b : Not(b)), (i & 1) ? c : Not(c)));
    return r;
  }
  static V XorAnd(V a, V b, V m) { return And(Xor(a, b), m); }
  template <int S>
  static V Shr(V a) {
    return _mm256_srli_epi64(a, S);
  }
  template <int S>
  static V Shl(V a) {
    return _mm256_slli_epi64(a, S);
  }
  static V Constant(uint64_t c) { return _mm256_set1_epi64x(static_cast<long long>(c)); }
  static V Load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
  static V XorMask(V a, uint32_t mask) { return Xor(a, _mm256_set1_epi32(static_cast<int>(mask))); }
};

template <bool Decrypt>
void Crypt(const BitsliceKeys &keys, const unsigned char *in, uint64_t *blocks) {
  __m256i scratch[64];
  bitslice::CryptPass<false, Gates, __m256i, Decrypt>(keys, in, reinterpret_cast<__m256i *>(blocks), scratch);
  SecureWipe(scratch);
}

}  // namespace

const BitsliceDesEngine kBitsliceAvx2 = {"avx2", 256, Crypt<false>, Crypt<true>};

}  // namespace compatcrypt::des
