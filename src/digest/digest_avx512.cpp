// Digest engine on AVX-512F: sixteen blocks at once, one in each 32-bit
// lane. VPROLD makes each rotation one operation and VPTERNLOGD each
// logical function, so a step costs about half what it does on AVX2 for
// twice the lanes. A last group of fewer than sixteen runs with its unused
// lanes zero and leaves them out of the sums.
//
// Built with -mavx512f and called only once the CPU check has passed.
// Nothing here calls an inline function shared with portable code, so no
// out-of-line copy built with these flags can stand in for a portable one.
#include "digest/digest_engine.h"

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector,
// which its own uninitialized checks then report.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "digest/digest_constants.h"

namespace compatcrypt::digest_core {

namespace {

constexpr std::size_t kLanes = 16;
constexpr uint32_t kA = kInitialWords[0], kB = kInitialWords[1], kC = kInitialWords[2], kD = kInitialWords[3],
                   kE = kInitialWords[4];

inline __m512i Set(uint32_t x) { return _mm512_set1_epi32(static_cast<int>(x)); }

// Sixteen rows of sixteen words become sixteen columns: pairs of words and
// of word pairs within each 128-bit lane, then the 4x4 of lanes.
inline void Transpose16(__m512i (&r)[16]) {
  __m512i t[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
  }
  // u[4m + j], lane L: word 4L + j of rows 4m to 4m + 3.
  __m512i u[16];
  for (int m = 0; m < 4; ++m) {
    u[4 * m + 0] = _mm512_unpacklo_epi64(t[4 * m + 0], t[4 * m + 2]);
    u[4 * m + 1] = _mm512_unpackhi_epi64(t[4 * m + 0], t[4 * m + 2]);
    u[4 * m + 2] = _mm512_unpacklo_epi64(t[4 * m + 1], t[4 * m + 3]);
    u[4 * m + 3] = _mm512_unpackhi_epi64(t[4 * m + 1], t[4 * m + 3]);
  }
  for (int j = 0; j < 4; ++j) {
    const __m512i low01 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0x44);
    const __m512i low23 = _mm512_shuffle_i32x4(u[j], u[4 + j], 0xEE);
    const __m512i high01 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0x44);
    const __m512i high23 = _mm512_shuffle_i32x4(u[8 + j], u[12 + j], 0xEE);
    r[j] = _mm512_shuffle_i32x4(low01, high01, 0x88);
    r[4 + j] = _mm512_shuffle_i32x4(low01, high01, 0xDD);
    r[8 + j] = _mm512_shuffle_i32x4(low23, high23, 0x88);
    r[12 + j] = _mm512_shuffle_i32x4(low23, high23, 0xDD);
  }
}

// W[0..15] of `used` blocks, block j in lane j, big-endian and with the
// sign-extended packing. The byte swap is two rotations and a select, as a
// byte shuffle would need AVX-512BW.
inline void LoadSchedule(const unsigned char *p, std::size_t used, __m512i (&w)[16]) {
  for (std::size_t j = 0; j < 16; ++j)
    w[j] = j < used ? _mm512_loadu_si512(p + j * kBlockSize) : _mm512_setzero_si512();
  Transpose16(w);
  for (int i = 0; i < 16; ++i) {
    const __m512i word = _mm512_ternarylogic_epi32(Set(0x00FF00FF), _mm512_rol_epi32(w[i], 8),
                                                   _mm512_rol_epi32(w[i], 24), 0xCA);
    // One unit less in the next higher byte for each of bytes 1 to 3
    // that has its top bit set.
    const __m512i borrow = _mm512_slli_epi32(_mm512_and_si512(word, Set(0x00808080)), 1);
    w[i] = _mm512_sub_epi32(word, borrow);
  }
}

struct Lanes {
  __m512i a, b, c, d, e;
};

// VPTERNLOGD tables of the four step groups' functions of (b, c, d):
// choose, parity, majority, parity.
constexpr int kLogicalTables[4] = {0xCA, 0x96, 0xE8, 0x96};

// Step T, then the steps after it. W is kept as a ring of sixteen.
template <int T>
inline void Steps(__m512i (&w)[16], Lanes &s) {
  constexpr int group = T / 20;
  constexpr uint32_t k = kStepConstants[group];
  // A named constant: unoptimised builds pass the immediate only as one.
  constexpr int table = kLogicalTables[group];
  if constexpr (T >= 16)
    w[T % 16] = _mm512_rol_epi32(
        _mm512_xor_si512(_mm512_ternarylogic_epi32(w[(T - 3) % 16], w[(T - 8) % 16], w[(T - 14) % 16], 0x96),
                         w[T % 16]),
        1);
  const __m512i f = _mm512_ternarylogic_epi32(s.b, s.c, s.d, table);
  const __m512i temp = _mm512_add_epi32(_mm512_add_epi32(_mm512_rol_epi32(s.a, 5), f),
                                        _mm512_add_epi32(s.e, _mm512_add_epi32(w[T % 16], Set(k))));
  s.e = s.d;
  s.d = s.c;
  s.c = _mm512_rol_epi32(s.b, 30);
  s.b = s.a;
  s.a = temp;
  if constexpr (T < kScheduleWords - 1) Steps<T + 1>(w, s);
}

// Summed in unsigned words: the header's own reduction adds signed ones,
// whose wrap is undefined.
inline uint32_t SumLanes(__m512i x) {
  uint32_t lanes[kLanes];
  _mm512_storeu_si512(lanes, x);
  uint32_t sum = 0;
  for (uint32_t lane : lanes) sum += lane;
  return sum;
}

}  // namespace

void DigestBlocksAvx512(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  // Lane sums over all groups, reduced once at the end.
  Lanes total{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
              _mm512_setzero_si512()};
  while (count != 0) {
    const std::size_t used = count < kLanes ? count : kLanes;
    __m512i w[16];
    LoadSchedule(blocks, used, w);
    Lanes s{Set(kA), Set(kB), Set(kC), Set(kD), Set(kE)};
    Steps<0>(w, s);
    const __mmask16 keep = static_cast<__mmask16>((1u << used) - 1);
    total.a = _mm512_mask_add_epi32(total.a, keep, total.a, s.a);
    total.b = _mm512_mask_add_epi32(total.b, keep, total.b, s.b);
    total.c = _mm512_mask_add_epi32(total.c, keep, total.c, s.c);
    total.d = _mm512_mask_add_epi32(total.d, keep, total.d, s.d);
    total.e = _mm512_mask_add_epi32(total.e, keep, total.e, s.e);
    blocks += used * kBlockSize;
    count -= used;
  }

  sums[0] += SumLanes(total.a);
  sums[1] += SumLanes(total.b);
  sums[2] += SumLanes(total.c);
  sums[3] += SumLanes(total.d);
  sums[4] += SumLanes(total.e);
}

}  // namespace compatcrypt::digest_core
