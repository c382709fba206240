// The digest's lane engine on AVX2: eight blocks a group in 256-bit words.
// AVX2 has neither rotation nor three-input logic, so each is a short
// composition of shifts and two-input operations.
//
// Built with -mavx2 and called only once the CPU check has passed.
#include <immintrin.h>

#include "digest_core/digest_engine.h"
#include "digest_core/digest_lanes.h"

namespace compatcrypt::digest_core {

namespace {

struct Ops {
  using V = __m256i;
  using Mask = __m256i;
  static constexpr std::size_t kLanes = 8;
  static V Set(uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }
  static V Zero() { return _mm256_setzero_si256(); }
  static V Add(V a, V b) { return _mm256_add_epi32(a, b); }
  static V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
  static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  static V Xor4(V a, V b, V c, V d) { return Xor(Xor(a, b), Xor(c, d)); }
  template <int N>
  static V Rotl(V x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
  }
  // Choose as d ^ (b & (c ^ d)), majority as (b & c) | (d & (b | c)).
  template <int Group>
  static V Logical(V b, V c, V d) {
    if constexpr (Group == 0) return Xor(d, _mm256_and_si256(b, Xor(c, d)));
    if constexpr (Group == 2)
      return _mm256_or_si256(_mm256_and_si256(b, c), _mm256_and_si256(d, _mm256_or_si256(b, c)));
    if constexpr (Group == 1 || Group == 3) return Xor(Xor(b, c), d);
  }
  static V Load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
  static V UnpackLo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
  static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
  static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
  static void TransposeQuads(V *r) {
    for (int j = 0; j < 4; ++j) {
      const V low = r[j], high = r[4 + j];
      r[j] = _mm256_permute2x128_si256(low, high, 0x20);
      r[4 + j] = _mm256_permute2x128_si256(low, high, 0x31);
    }
  }
  static V ByteSwap(V x) {
    return _mm256_shuffle_epi8(x, _mm256_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3, 12,
                                                  13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3));
  }
  // Lane i all ones where n > i.
  static Mask FirstLanes(std::size_t n) {
    return _mm256_cmpgt_epi32(Set(static_cast<uint32_t>(n)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  }
  static V AddMasked(V sum, V x, Mask keep) { return Add(sum, _mm256_and_si256(x, keep)); }
  static void Store(uint32_t *p, V x) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), x); }
};

}  // namespace

void DigestBlocksAvx2(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  lanes::DigestBlocks<Ops>(blocks, count, sums);
}

}  // namespace compatcrypt::digest_core
