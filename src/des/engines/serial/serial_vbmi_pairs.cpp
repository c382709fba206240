// The VBMI serial engines' CBC decryption: two independent blocks a
// register, one in each 64-bit lane, in the plane layout of
// serial_vbmi_planes.h. Six gathers and four permutes a round serve two
// blocks: more work on one block's path than a chained round, less per
// block.
#include "des/engines/serial/serial_vbmi_pairs.h"

#include <immintrin.h>

#include <utility>

#include "des/engines/serial/serial_vbmi_planes.h"
#include "support/declared_instructions.h"
#include "support/taint_check.h"

namespace compatcrypt::des {

namespace {

using namespace serial::planes;

// A subkey as the round uses it: the index bytes' fixed bits (the
// subkey's six bits), with the first gather's bit unset and set.
struct RoundKey {
  __m128i base;
  __m128i flipped;
};

inline RoundKey MakeRoundKey(uint64_t word) {
  RoundKey key;
  key.base = _mm_set1_epi64x(static_cast<long long>(word));
  key.flipped = _mm_xor_si128(key.base, _mm_set1_epi8(1));
  return key;
}

struct Gathers {
  __m128i plane[6];
};

inline Gathers LoadGathers() {
  Gathers g;
  for (int u = 0; u < 6; ++u) g.plane[u] = Load16(kLayout.gather[u]);
  return g;
}

// One round, `l` XOR f(`r`) in the S domain, on two blocks (one a lane):
// a gather for each plane.
inline __m128i Round(const __m128i l, const __m128i r, const RoundKey &key, const Gathers &g,
                     const Tables &t) {
  __mmask16 bit[6];
  for (int u = 0; u < 6; ++u) bit[u] = declared::BitGather(r, g.plane[u]);
  const __m128i low = declared::TernaryLogic<0x96>(_mm_mask_blend_epi8(bit[0], key.base, key.flipped),
                                                   _mm_maskz_mov_epi8(bit[1], _mm_set1_epi8(2)),
                                                   _mm_maskz_mov_epi8(bit[2], _mm_set1_epi8(4)));
  const __m128i high = declared::TernaryLogic<0x96>(_mm_maskz_mov_epi8(bit[3], _mm_set1_epi8(8)),
                                                    _mm_maskz_mov_epi8(bit[4], _mm_set1_epi8(16)),
                                                    _mm_maskz_mov_epi8(bit[5], _mm_set1_epi8(32)));
  return Lookup(l, _mm_xor_si128(low, high), t);
}

// The halves in the S domain; a 64-bit lane is one block.
struct Halves {
  __m128i l;
  __m128i r;
};

template <int N>
inline uint64_t LeaveLane(const Halves &h) {
  return N == 0 ? Leave(h.l, h.r) : Leave(_mm_unpackhi_epi64(h.l, h.l), _mm_unpackhi_epi64(h.r, h.r));
}

inline Halves EnterTwo(uint64_t first, uint64_t second) {
  const EnteredWords a = Enter(first), b = Enter(second);
  return {_mm_set_epi64x(static_cast<long long>(b.l), static_cast<long long>(a.l)),
          _mm_set_epi64x(static_cast<long long>(b.r), static_cast<long long>(a.r))};
}

}  // namespace

namespace serial {

// Two blocks a register, two registers at once: four blocks in flight.
// Every block of a group is read before any is written.

void VbmiPairsCbcDecrypt(const TripleDesSchedule &schedule, uint64_t &chain, const uint8_t *in,
                         std::size_t blocks, uint8_t *out) {
  if (blocks == 0) return;
  const Gathers g = LoadGathers();
  const Tables t = LoadTables();
  uint64_t previous = SwapBlockOrder(chain);
  std::size_t i = 0;
  for (; i + 4 <= blocks; i += 4) {
    uint64_t c[4];
    for (int n = 0; n < 4; ++n) c[n] = LoadBlock(in + 8 * (i + n));
    Halves h0 = EnterTwo(c[0], c[1]);
    Halves h1 = EnterTwo(c[2], c[3]);
    // The two registers' rounds interleave round by round.
    for (int pass = 0; pass < 3; ++pass) {
      const bool inner = pass == 1;
      for (int k = 0; k < 16; k += 2) {
        const RoundKey k1 = MakeRoundKey(inner ? schedule.middle.round[k] : schedule.outer.round[15 - k]);
        const RoundKey k2 = MakeRoundKey(inner ? schedule.middle.round[k + 1] : schedule.outer.round[14 - k]);
        h0.l = Round(h0.l, h0.r, k1, g, t);
        h1.l = Round(h1.l, h1.r, k1, g, t);
        h0.r = Round(h0.r, h0.l, k2, g, t);
        h1.r = Round(h1.r, h1.l, k2, g, t);
      }
      std::swap(h0.l, h0.r);
      std::swap(h1.l, h1.r);
    }
    taint::Control(h0.l);
    const uint64_t p[4] = {LeaveLane<0>(h0), LeaveLane<1>(h0), LeaveLane<0>(h1), LeaveLane<1>(h1)};
    for (int n = 0; n < 4; ++n) StoreBlock(p[n] ^ (n == 0 ? previous : c[n - 1]), out + 8 * (i + n));
    previous = c[3];
  }
  for (; i < blocks; i += 2) {
    const bool two = i + 2 <= blocks;
    const uint64_t c0 = LoadBlock(in + 8 * i);
    const uint64_t c1 = two ? LoadBlock(in + 8 * (i + 1)) : 0;
    Halves h = EnterTwo(c0, c1);
    for (int pass = 0; pass < 3; ++pass) {
      const DesSchedule &keys = pass == 1 ? schedule.middle : schedule.outer;
      for (int k = 0; k < 16; k += 2) {
        h.l = Round(h.l, h.r, MakeRoundKey(keys.round[pass == 1 ? k : 15 - k]), g, t);
        h.r = Round(h.r, h.l, MakeRoundKey(keys.round[pass == 1 ? k + 1 : 14 - k]), g, t);
      }
      std::swap(h.l, h.r);
    }
    taint::Control(h.l);
    StoreBlock(LeaveLane<0>(h) ^ previous, out + 8 * i);
    if (two) StoreBlock(LeaveLane<1>(h) ^ c0, out + 8 * (i + 1));
    previous = two ? c1 : c0;
  }
  chain = SwapBlockOrder(previous);
}

}  // namespace serial

}  // namespace compatcrypt::des
