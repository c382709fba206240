// The digest's lane engine on AVX-512F: sixteen blocks a group in 512-bit
// words. VPROLD makes each rotation one operation and VPTERNLOGD each
// logical function, so a step of one group is a chain of a few dependent
// operations, whose idle cycles the other group's step fills.
//
// Built with -mavx512f -mavx512bw and called only once the CPU check has
// passed.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector,
// which its own uninitialized checks then report.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "digest_core/digest_engine.h"
#include "digest_core/digest_lanes.h"
#include "support/declared_instructions.h"

namespace compatcrypt::digest_core {

namespace {

// VPTERNLOGD tables of the four step groups' functions of (b, c, d):
// choose, parity, majority, parity.
constexpr int kLogicalTables[4] = {0xCA, 0x96, 0xE8, 0x96};

struct Ops {
  using V = __m512i;
  using Mask = __mmask16;
  static constexpr std::size_t kLanes = 16;
  static V Set(uint32_t x) { return _mm512_set1_epi32(static_cast<int>(x)); }
  static V Zero() { return _mm512_setzero_si512(); }
  static V Add(V a, V b) { return _mm512_add_epi32(a, b); }
  static V Sub(V a, V b) { return _mm512_sub_epi32(a, b); }
  static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
  static V Xor4(V a, V b, V c, V d) { return declared::TernaryLogic32<0x96>(Xor(a, d), b, c); }
  template <int N>
  static V Rotl(V x) {
    return _mm512_rol_epi32(x, N);
  }
  template <int Group>
  static V Logical(V b, V c, V d) {
    return declared::TernaryLogic32<kLogicalTables[Group]>(b, c, d);
  }
  static V Load(const unsigned char *p) { return _mm512_loadu_si512(p); }
  static V UnpackLo32(V a, V b) { return _mm512_unpacklo_epi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm512_unpackhi_epi32(a, b); }
  static V UnpackLo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
  static V UnpackHi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }
  // A 4x4 of lanes in two rounds of VSHUFI32X4: pairs of lanes, then lanes.
  static void TransposeQuads(V *r) {
    for (int j = 0; j < 4; ++j) {
      const V low01 = _mm512_shuffle_i32x4(r[j], r[4 + j], 0x44);
      const V low23 = _mm512_shuffle_i32x4(r[j], r[4 + j], 0xEE);
      const V high01 = _mm512_shuffle_i32x4(r[8 + j], r[12 + j], 0x44);
      const V high23 = _mm512_shuffle_i32x4(r[8 + j], r[12 + j], 0xEE);
      r[j] = _mm512_shuffle_i32x4(low01, high01, 0x88);
      r[4 + j] = _mm512_shuffle_i32x4(low01, high01, 0xDD);
      r[8 + j] = _mm512_shuffle_i32x4(low23, high23, 0x88);
      r[12 + j] = _mm512_shuffle_i32x4(low23, high23, 0xDD);
    }
  }
  // One byte shuffle (AVX-512BW): rotations would take three operations on
  // the units the steps' own rotations keep busy.
  static V ByteSwap(V x) {
    return _mm512_shuffle_epi8(x, _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203));
  }
  static Mask FirstLanes(std::size_t n) { return static_cast<Mask>((1u << n) - 1); }
  static V AddMasked(V sum, V x, Mask keep) { return _mm512_mask_add_epi32(sum, keep, sum, x); }
  static void Store(uint32_t *p, V x) { _mm512_storeu_si512(p, x); }
};

}  // namespace

void DigestBlocksAvx512(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  lanes::DigestBlocks<Ops>(blocks, count, sums);
}

}  // namespace compatcrypt::digest_core
