// Digest engine on AVX2: eight blocks in each group, one in each 32-bit
// lane, so every step of the transform is a handful of vector operations
// shared by the eight, and two groups in flight so that one group's chain of
// dependent operations leaves the units to the other's. The first five
// steps start from the fixed initial words, so what they take from those
// words is folded into constants. A last pass that is not full runs with
// its unused lanes zero (no byte is read for them) and leaves them out of
// the sums.
//
// Built with -mavx2 and called only once the CPU check has passed. Nothing
// here calls an inline function shared with portable code, so no
// out-of-line copy built with these flags can stand in for a portable one.
#include <immintrin.h>

#include "digest/digest_constants.h"
#include "digest/digest_engine.h"

namespace compatcrypt::digest_core {

namespace {

constexpr std::size_t kLanes = 8;
// Groups in flight in a full pass.
constexpr int kGroups = 2;
constexpr std::size_t kPassBlocks = kGroups * kLanes;

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

inline __m256i Set(uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }

template <int N>
inline __m256i Rotl(__m256i x) {
  return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
}

// Eight rows of eight words become eight columns.
inline void Transpose8(__m256i (&r)[8]) {
  __m256i t[8], u[8];
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm256_unpacklo_epi32(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm256_unpackhi_epi32(r[2 * i], r[2 * i + 1]);
  }
  for (int i = 0; i < 2; ++i) {
    u[4 * i + 0] = _mm256_unpacklo_epi64(t[4 * i + 0], t[4 * i + 2]);
    u[4 * i + 1] = _mm256_unpackhi_epi64(t[4 * i + 0], t[4 * i + 2]);
    u[4 * i + 2] = _mm256_unpacklo_epi64(t[4 * i + 1], t[4 * i + 3]);
    u[4 * i + 3] = _mm256_unpackhi_epi64(t[4 * i + 1], t[4 * i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
    r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
  }
}

// W[0..15] of `used` blocks, block j in lane j: each half of a block is
// loaded as a row, the rows transposed, and each word made big-endian and
// given the sign-extended packing. The packing subtracts one unit of the
// next higher byte for each of bytes 1 to 3 with its top bit set, which is
// flipping those top bits and subtracting them all: (x ^ M) - M.
inline void LoadSchedule(const unsigned char *p, std::size_t used, __m256i (&w)[16]) {
  const __m256i bswap = _mm256_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15,
                                        8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  for (int half = 0; half < 2; ++half) {
    __m256i r[8];
    for (std::size_t j = 0; j < 8; ++j)
      r[j] = j < used ? _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + j * kBlockSize + 32 * half))
                      : _mm256_setzero_si256();
    Transpose8(r);
    for (int i = 0; i < 8; ++i) {
      const __m256i word = _mm256_xor_si256(_mm256_shuffle_epi8(r[i], bswap), Set(0x00808080));
      w[8 * half + i] = _mm256_sub_epi32(word, Set(0x00808080));
    }
  }
}

struct Lanes {
  __m256i a, b, c, d, e;
};

template <int Group>
inline __m256i Logical(__m256i b, __m256i c, __m256i d) {
  if constexpr (Group == 0) return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
  if constexpr (Group == 2)
    return _mm256_or_si256(_mm256_and_si256(b, c), _mm256_and_si256(d, _mm256_or_si256(b, c)));
  if constexpr (Group == 1 || Group == 3) return _mm256_xor_si256(_mm256_xor_si256(b, c), d);
}

// Steps 0 to 4 of G groups: B to E still hold words of the initial state,
// constant in every lane, and the choose function of constants is folded.
template <int G>
[[gnu::always_inline]] inline void FirstSteps(const __m256i (&w)[G][16], Lanes (&s)[G]) {
  for (int g = 0; g < G; ++g) {
    const __m256i a1 = _mm256_add_epi32(w[g][0], Set(kStep0));
    const __m256i a2 = _mm256_add_epi32(Rotl<5>(a1), _mm256_add_epi32(w[g][1], Set(kStep1)));
    const __m256i f2 = Logical<0>(a1, Set(RotlConstant(kA, 30)), Set(RotlConstant(kB, 30)));
    const __m256i a3 =
        _mm256_add_epi32(Rotl<5>(a2), _mm256_add_epi32(f2, _mm256_add_epi32(w[g][2], Set(kStep2))));
    const __m256i c1 = Rotl<30>(a1);
    const __m256i f3 = Logical<0>(a2, c1, Set(RotlConstant(kA, 30)));
    const __m256i a4 =
        _mm256_add_epi32(Rotl<5>(a3), _mm256_add_epi32(f3, _mm256_add_epi32(w[g][3], Set(kStep3))));
    const __m256i c2 = Rotl<30>(a2);
    const __m256i f4 = Logical<0>(a3, c2, c1);
    const __m256i a5 =
        _mm256_add_epi32(Rotl<5>(a4), _mm256_add_epi32(f4, _mm256_add_epi32(w[g][4], Set(kStep4))));
    s[g] = Lanes{a5, a4, Rotl<30>(a3), c2, c1};
  }
}

// Step T of G groups side by side, then the steps after it. W is kept as a
// ring of sixteen. The new A is ROTL5(A) plus a sum that does not wait on
// A, so that each step's chain is short.
template <int T, int G>
[[gnu::always_inline]] inline void Steps(__m256i (&w)[G][16], Lanes (&s)[G]) {
  constexpr int group = T / 20;
  constexpr uint32_t k = kStepConstants[group];
  for (int g = 0; g < G; ++g) {
    if constexpr (T >= 16)
      w[g][T % 16] = Rotl<1>(_mm256_xor_si256(_mm256_xor_si256(w[g][(T - 3) % 16], w[g][(T - 8) % 16]),
                                              _mm256_xor_si256(w[g][(T - 14) % 16], w[g][T % 16])));
    const __m256i rest = _mm256_add_epi32(Logical<group>(s[g].b, s[g].c, s[g].d),
                                          _mm256_add_epi32(s[g].e, _mm256_add_epi32(w[g][T % 16], Set(k))));
    s[g].e = s[g].d;
    s[g].d = s[g].c;
    s[g].c = Rotl<30>(s[g].b);
    s[g].b = s[g].a;
    s[g].a = _mm256_add_epi32(Rotl<5>(s[g].a), rest);
  }
  if constexpr (T < kScheduleWords - 1) Steps<T + 1, G>(w, s);
}

// One pass of G groups over `used` blocks (more than 8 (G - 1)); the lanes
// past `used` are zero and left out of the lane sums.
template <int G>
[[gnu::always_inline]] inline void Pass(const unsigned char *p, std::size_t used, Lanes &total) {
  __m256i w[G][16];
  for (int g = 0; g < G; ++g) LoadSchedule(p + g * kLanes * kBlockSize, used - g * kLanes, w[g]);
  Lanes s[G];
  FirstSteps<G>(w, s);
  Steps<5, G>(w, s);
  for (int g = 0; g < G; ++g) {
    const std::size_t filled = used - g * kLanes;
    const __m256i keep = _mm256_cmpgt_epi32(Set(static_cast<uint32_t>(filled < kLanes ? filled : kLanes)),
                                            _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    total.a = _mm256_add_epi32(total.a, _mm256_and_si256(s[g].a, keep));
    total.b = _mm256_add_epi32(total.b, _mm256_and_si256(s[g].b, keep));
    total.c = _mm256_add_epi32(total.c, _mm256_and_si256(s[g].c, keep));
    total.d = _mm256_add_epi32(total.d, _mm256_and_si256(s[g].d, keep));
    total.e = _mm256_add_epi32(total.e, _mm256_and_si256(s[g].e, keep));
  }
}

// A last pass of 1 to 8 G blocks, with no more groups than they fill.
template <int G>
inline void LastPass(const unsigned char *p, std::size_t count, Lanes &total) {
  if constexpr (G > 1) {
    if (count <= (G - 1) * kLanes) return LastPass<G - 1>(p, count, total);
  }
  Pass<G>(p, count, total);
}

inline uint32_t SumLanes(__m256i x) {
  __m128i v = _mm_add_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

}  // namespace

void DigestBlocksAvx2(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  // Lane sums over all passes, reduced once at the end.
  Lanes total{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
              _mm256_setzero_si256()};
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
