// Digest engine on the SHA extensions. Blocks are independent, so several
// run side by side: each SHA1RNDS4 waits on the one before it in its block,
// and where that wait, not the unit's throughput, is the limit, the other
// blocks' rounds fill it.
//
// Built with -msha -msse4.1 and called only once the CPU check has passed.
// Nothing here calls an inline function shared with portable code, so no
// out-of-line copy built with these flags can stand in for a portable one.
#include <immintrin.h>

#include "digest_core/digest_constants.h"
#include "digest_core/digest_engine.h"
#include "support/declared_instructions.h"

namespace compatcrypt::digest_core {

namespace {

// Words are held A (or W[0]) in the highest lane, as the instructions take
// them: reversing all 16 bytes makes big-endian words in that order.
inline __m128i LoadWords(const unsigned char *p) {
  const __m128i reverse = _mm_set_epi64x(0x0001020304050607, 0x08090A0B0C0D0E0F);
  const __m128i word = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), reverse);
  // Sign-extended packing: one unit less in the next higher byte for each
  // of bytes 1 to 3 that has its top bit set.
  const __m128i borrow = _mm_slli_epi32(_mm_and_si128(word, _mm_set1_epi32(0x00808080)), 1);
  return _mm_sub_epi32(word, borrow);
}

// Round group Q (steps 4Q to 4Q + 3) of N blocks, then the groups after it.
// W[4Q..4Q+3] are in msg[Q % 4]; from Q = 4 on they are made from the four
// groups before, in the slot of the oldest. `previous` is A..D as it was
// before group Q - 1: SHA1NEXTE turns its A into the E of group Q.
template <int Q, int N>
inline void Groups(__m128i (&msg)[N][4], __m128i (&abcd)[N], __m128i (&previous)[N]) {
  for (int n = 0; n < N; ++n) {
    __m128i &w = msg[n][Q % 4];
    if constexpr (Q >= 4)
      w = declared::Sha1Msg2(_mm_xor_si128(declared::Sha1Msg1(w, msg[n][(Q + 1) % 4]), msg[n][(Q + 2) % 4]),
                             msg[n][(Q + 3) % 4]);
    const __m128i we = declared::Sha1NextE(previous[n], w);
    previous[n] = abcd[n];
    abcd[n] = declared::Sha1Rounds4<Q / 5>(abcd[n], we);
  }
  if constexpr (Q < 19) Groups<Q + 1, N>(msg, abcd, previous);
}

// N blocks at once, their results added to the sums. With no feed-forward
// the E left after the last group is the E the next group would use, so it
// comes from the state before the last group the same way, straight into
// the E sum.
template <int N>
inline void Blocks(const unsigned char *p, __m128i &sumAbcd, __m128i &sumE) {
  constexpr uint32_t a = kInitialWords[0], b = kInitialWords[1], c = kInitialWords[2], d = kInitialWords[3],
                     e = kInitialWords[4];
  const __m128i initialAbcd =
      _mm_set_epi32(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d));
  const __m128i initialE = _mm_set_epi32(static_cast<int>(e), 0, 0, 0);

  __m128i msg[N][4], abcd[N], previous[N];
  for (int n = 0; n < N; ++n) {
    for (int i = 0; i < 4; ++i) msg[n][i] = LoadWords(p + n * kBlockSize + 16 * i);
    previous[n] = initialAbcd;
    abcd[n] = declared::Sha1Rounds4<0>(initialAbcd, _mm_add_epi32(msg[n][0], initialE));
  }
  Groups<1, N>(msg, abcd, previous);

  for (int n = 0; n < N; ++n) {
    sumAbcd = _mm_add_epi32(sumAbcd, abcd[n]);
    // Only the top lane of sumE is used; SHA1NEXTE adds rotl(A, 30) there.
    sumE = declared::Sha1NextE(previous[n], sumE);
  }
}

// Blocks taken side by side.
constexpr std::size_t kWidth = 4;

}  // namespace

void DigestBlocksShani(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  __m128i sumAbcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(sums)), 0x1B);
  __m128i sumE = _mm_set_epi32(static_cast<int>(sums[4]), 0, 0, 0);

  for (; count >= kWidth; count -= kWidth, blocks += kWidth * kBlockSize)
    Blocks<kWidth>(blocks, sumAbcd, sumE);
  for (; count != 0; --count, blocks += kBlockSize) Blocks<1>(blocks, sumAbcd, sumE);
  taint::Control(sumAbcd);

  _mm_storeu_si128(reinterpret_cast<__m128i *>(sums), _mm_shuffle_epi32(sumAbcd, 0x1B));
  sums[4] = static_cast<uint32_t>(_mm_extract_epi32(sumE, 3));
}

}  // namespace compatcrypt::digest_core
