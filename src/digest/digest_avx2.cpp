// Digest engine on AVX2: eight blocks at once, one in each 32-bit lane, so
// every step of the transform is a handful of vector operations shared by
// the eight. A last group of fewer than eight runs with its unused lanes
// zero and leaves them out of the sums.
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
constexpr uint32_t kA = kInitialWords[0], kB = kInitialWords[1], kC = kInitialWords[2], kD = kInitialWords[3],
                   kE = kInitialWords[4];

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
// given the sign-extended packing.
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
      const __m256i word = _mm256_shuffle_epi8(r[i], bswap);
      // One unit less in the next higher byte for each of bytes 1 to 3
      // that has its top bit set.
      const __m256i borrow = _mm256_slli_epi32(_mm256_and_si256(word, Set(0x00808080)), 1);
      w[8 * half + i] = _mm256_sub_epi32(word, borrow);
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

// Step T, then the steps after it. W is kept as a ring of sixteen.
template <int T>
inline void Steps(__m256i (&w)[16], Lanes &s) {
  constexpr int group = T / 20;
  if constexpr (T >= 16)
    w[T % 16] = Rotl<1>(_mm256_xor_si256(_mm256_xor_si256(w[(T - 3) % 16], w[(T - 8) % 16]),
                                         _mm256_xor_si256(w[(T - 14) % 16], w[T % 16])));
  constexpr uint32_t k = kStepConstants[group];
  const __m256i wk = _mm256_add_epi32(w[T % 16], Set(k));
  const __m256i temp = _mm256_add_epi32(_mm256_add_epi32(Rotl<5>(s.a), Logical<group>(s.b, s.c, s.d)),
                                        _mm256_add_epi32(s.e, wk));
  s.e = s.d;
  s.d = s.c;
  s.c = Rotl<30>(s.b);
  s.b = s.a;
  s.a = temp;
  if constexpr (T < kScheduleWords - 1) Steps<T + 1>(w, s);
}

inline uint32_t SumLanes(__m256i x) {
  __m128i v = _mm_add_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

}  // namespace

void DigestBlocksAvx2(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  // Lane sums over all groups, reduced once at the end.
  Lanes total{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
              _mm256_setzero_si256()};
  while (count != 0) {
    const std::size_t used = count < kLanes ? count : kLanes;
    __m256i w[16];
    LoadSchedule(blocks, used, w);
    Lanes s{Set(kA), Set(kB), Set(kC), Set(kD), Set(kE)};
    Steps<0>(w, s);
    const __m256i keep =
        _mm256_cmpgt_epi32(Set(static_cast<uint32_t>(used)), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    total.a = _mm256_add_epi32(total.a, _mm256_and_si256(s.a, keep));
    total.b = _mm256_add_epi32(total.b, _mm256_and_si256(s.b, keep));
    total.c = _mm256_add_epi32(total.c, _mm256_and_si256(s.c, keep));
    total.d = _mm256_add_epi32(total.d, _mm256_and_si256(s.d, keep));
    total.e = _mm256_add_epi32(total.e, _mm256_and_si256(s.e, keep));
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
