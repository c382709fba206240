// Digest engine on AVX-512F: sixteen blocks in each group, one in each
// 32-bit lane, and two groups in flight. VPROLD makes each rotation one
// operation and VPTERNLOGD each logical function; a step of one group is
// then a chain of a few dependent operations, and the other group's step
// fills the cycles that chain leaves idle.
//
// The first five steps start from the fixed initial words, so what they
// take from those words is folded into constants here. A last pass that is
// not full runs with its unused lanes zero (no byte is read for them) and
// leaves them out of the sums.
//
// Built with -mavx512f -mavx512bw and called only once the CPU check has
// passed.
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
// Groups in flight in a full pass.
constexpr int kGroups = 2;
constexpr std::size_t kPassBlocks = kGroups * kLanes;

inline __m512i Set(uint32_t x) { return _mm512_set1_epi32(static_cast<int>(x)); }

// Compile-time only: the folded constants of the first steps.
constexpr uint32_t RotlConstant(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
constexpr uint32_t ChooseConstant(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (~b & d); }

constexpr uint32_t kA = kInitialWords[0], kB = kInitialWords[1], kC = kInitialWords[2], kD = kInitialWords[3],
                   kE = kInitialWords[4], kK0 = kStepConstants[0];
// Everything of steps 0 and 1 but their message words and the rotation of
// the A made in step 0; then the E plus K of steps 2 to 4, which are words
// of the initial state moved down.
constexpr uint32_t kStep0 = RotlConstant(kA, 5) + ChooseConstant(kB, kC, kD) + kE + kK0;
constexpr uint32_t kStep1 = ChooseConstant(kA, RotlConstant(kB, 30), kC) + kD + kK0;
constexpr uint32_t kStep2 = kC + kK0;
constexpr uint32_t kStep3 = RotlConstant(kB, 30) + kK0;
constexpr uint32_t kStep4 = RotlConstant(kA, 30) + kK0;

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
// sign-extended packing. The byte swap is one byte shuffle (AVX-512BW):
// rotations would take three operations on the units the steps' own
// rotations keep busy. The packing subtracts one unit of the next higher
// byte for each of bytes 1 to 3 with its top bit set, which is flipping
// those top bits and subtracting them all: (x ^ M) - M.
inline void LoadSchedule(const unsigned char *p, std::size_t used, __m512i (&w)[16]) {
  for (std::size_t j = 0; j < kLanes; ++j)
    w[j] = j < used ? _mm512_loadu_si512(p + j * kBlockSize) : _mm512_setzero_si512();
  Transpose16(w);
  // The flip of the top bits, applied to the little-endian word before
  // the swap; the shuffle reverses the bytes of each word.
  const __m512i flip = Set(0x80808000);
  const __m512i swap = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
  for (int i = 0; i < 16; ++i) {
    const __m512i word = _mm512_shuffle_epi8(_mm512_xor_si512(w[i], flip), swap);
    w[i] = _mm512_sub_epi32(word, Set(0x00808080));
  }
}

struct Lanes {
  __m512i a, b, c, d, e;
};

// VPTERNLOGD tables of the four step groups' functions of (b, c, d):
// choose, parity, majority, parity.
constexpr int kLogicalTables[4] = {0xCA, 0x96, 0xE8, 0x96};

// Steps 0 to 4 of G groups: B to E still hold words of the initial state,
// constant in every lane, and the choose function of constants is folded.
template <int G>
[[gnu::always_inline]] inline void FirstSteps(const __m512i (&w)[G][16], Lanes (&s)[G]) {
  for (int g = 0; g < G; ++g) {
    const __m512i a1 = _mm512_add_epi32(w[g][0], Set(kStep0));
    const __m512i a2 = _mm512_add_epi32(_mm512_rol_epi32(a1, 5), _mm512_add_epi32(w[g][1], Set(kStep1)));
    const __m512i f2 = _mm512_ternarylogic_epi32(a1, Set(RotlConstant(kA, 30)), Set(RotlConstant(kB, 30)),
                                                 kLogicalTables[0]);
    const __m512i a3 = _mm512_add_epi32(_mm512_rol_epi32(a2, 5),
                                        _mm512_add_epi32(f2, _mm512_add_epi32(w[g][2], Set(kStep2))));
    const __m512i c1 = _mm512_rol_epi32(a1, 30);
    const __m512i f3 = _mm512_ternarylogic_epi32(a2, c1, Set(RotlConstant(kA, 30)), kLogicalTables[0]);
    const __m512i a4 = _mm512_add_epi32(_mm512_rol_epi32(a3, 5),
                                        _mm512_add_epi32(f3, _mm512_add_epi32(w[g][3], Set(kStep3))));
    const __m512i c2 = _mm512_rol_epi32(a2, 30);
    const __m512i f4 = _mm512_ternarylogic_epi32(a3, c2, c1, kLogicalTables[0]);
    const __m512i a5 = _mm512_add_epi32(_mm512_rol_epi32(a4, 5),
                                        _mm512_add_epi32(f4, _mm512_add_epi32(w[g][4], Set(kStep4))));
    s[g] = Lanes{a5, a4, _mm512_rol_epi32(a3, 30), c2, c1};
  }
}

// Step T of G groups side by side, then the steps after it. W is kept as a
// ring of sixteen. The new A is ROTL5(A) plus a sum that does not wait on
// A, so each step's chain is two operations long.
template <int T, int G>
[[gnu::always_inline]] inline void Steps(__m512i (&w)[G][16], Lanes (&s)[G]) {
  constexpr int group = T / 20;
  constexpr uint32_t k = kStepConstants[group];
  // A named constant: unoptimised builds pass the immediate only as one.
  constexpr int table = kLogicalTables[group];
  for (int g = 0; g < G; ++g) {
    if constexpr (T >= 16)
      w[g][T % 16] =
          _mm512_rol_epi32(_mm512_ternarylogic_epi32(_mm512_xor_si512(w[g][(T - 3) % 16], w[g][T % 16]),
                                                     w[g][(T - 8) % 16], w[g][(T - 14) % 16], 0x96),
                           1);
    // ROTL30(B) first: VPTERNLOGD overwrites its first operand, and B is
    // then free for it to take.
    const __m512i c = _mm512_rol_epi32(s[g].b, 30);
    const __m512i f = _mm512_ternarylogic_epi32(s[g].b, s[g].c, s[g].d, table);
    const __m512i rest =
        _mm512_add_epi32(f, _mm512_add_epi32(s[g].e, _mm512_add_epi32(w[g][T % 16], Set(k))));
    s[g].e = s[g].d;
    s[g].d = s[g].c;
    s[g].c = c;
    s[g].b = s[g].a;
    s[g].a = _mm512_add_epi32(_mm512_rol_epi32(s[g].a, 5), rest);
  }
  if constexpr (T < kScheduleWords - 1) Steps<T + 1, G>(w, s);
}

// One pass of G groups over `used` blocks (more than 16 (G - 1)); the
// lanes past `used` are zero and left out of the lane sums.
template <int G>
[[gnu::always_inline]] inline void Pass(const unsigned char *p, std::size_t used, Lanes &total) {
  __m512i w[G][16];
  for (int g = 0; g < G; ++g) LoadSchedule(p + g * kLanes * kBlockSize, used - g * kLanes, w[g]);
  Lanes s[G];
  FirstSteps<G>(w, s);
  Steps<5, G>(w, s);
  for (int g = 0; g < G; ++g) {
    const std::size_t filled = used - g * kLanes;
    const __mmask16 keep = filled >= kLanes ? __mmask16(0xFFFF) : static_cast<__mmask16>((1u << filled) - 1);
    total.a = _mm512_mask_add_epi32(total.a, keep, total.a, s[g].a);
    total.b = _mm512_mask_add_epi32(total.b, keep, total.b, s[g].b);
    total.c = _mm512_mask_add_epi32(total.c, keep, total.c, s[g].c);
    total.d = _mm512_mask_add_epi32(total.d, keep, total.d, s[g].d);
    total.e = _mm512_mask_add_epi32(total.e, keep, total.e, s[g].e);
  }
}

// A last pass of 1 to 16 G blocks, with no more groups than they fill.
template <int G>
inline void LastPass(const unsigned char *p, std::size_t count, Lanes &total) {
  if constexpr (G > 1) {
    if (count <= (G - 1) * kLanes) return LastPass<G - 1>(p, count, total);
  }
  Pass<G>(p, count, total);
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
  // Lane sums over all passes, reduced once at the end.
  Lanes total{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
              _mm512_setzero_si512()};
  for (; count >= kPassBlocks; count -= kPassBlocks, blocks += kPassBlocks * kBlockSize)
    Pass<kGroups>(blocks, kPassBlocks, total);
  // The rest: as many groups as it fills.
  if (count != 0) LastPass<kGroups>(blocks, count, total);

  sums[0] += SumLanes(total.a);
  sums[1] += SumLanes(total.b);
  sums[2] += SumLanes(total.c);
  sums[3] += SumLanes(total.d);
  sums[4] += SumLanes(total.e);
}

}  // namespace compatcrypt::digest_core
