// The VBMI serial engine's CBC decryption: two independent blocks a
// register, one in each 64-bit lane.
//
// The halves are kept with P undone: byte 7 - b of a lane holds the
// output nibble of S-box b + 1 (the low nibble for boxes 1, 3, 5, 7, the
// high one for the others; the other nibble is left over from the lookup
// and never read). A round is then:
//
//   - E after P as bit gathers (VPSHUFBITQMB): for each of the six bits of
//     a box's input, a gather brings that bit of all eight boxes, in both
//     lanes, into a mask register;
//   - those bits and the subkey's into index bytes, one per box;
//   - the S-boxes as four byte permutes (VPERMI2B) of 64-byte tables, each
//     holding two boxes as nibbles; each permute writes only its boxes'
//     bytes and zeroes the others, so two three-way XORs merge them into
//     the other half.
//
// Six gathers and four permutes serve two blocks: more work on one block's
// path than the chained engine's round (serial_vbmi.cpp), less per block.
// No data-dependent address or branch: tables are registers, every lookup
// is a permute whose timing does not depend on its index.
#include "des/engines/serial/serial_vbmi_pairs.h"

#include <immintrin.h>

#include <array>
#include <utility>

#include "des/engines/serial/serial_support.h"
#include "support/declared_instructions.h"
#include "support/taint_check.h"

namespace compatcrypt::des {

namespace {

// The register byte of box b (0-based): the schedule's words are
// big-endian, so a subkey word loaded as it is puts box b's bits there.
constexpr int Lane(int b) { return 7 - b; }

// The bit (within a 64-bit lane) where output bit j (0 = most significant)
// of box b sits.
constexpr int NibbleBit(int b, int j) { return 8 * Lane(b) + 4 * (b & 1) + 3 - j; }

// The S-domain bit that f bit i (1-based, P's output) comes from.
constexpr int SourceOfF(int i) {
  const int q = kPermutation[i - 1] - 1;
  return NibbleBit(q / 4, q % 4);
}

struct Constants {
  // Gather controls: plane u (input bit u of each box, bit 5 the first E
  // bit) reads, for box b, the S-domain bit that E and P bring there.
  std::array<std::array<uint8_t, 16>, 6> gather;
  // Lookups for boxes 2p + 1 and 2p + 2: byte e holds both on input e,
  // the first in the low nibble.
  std::array<std::array<uint8_t, 64>, 4> table;
  // Blocks into and out of the S domain, IP and IP^-1 included. Entering
  // gathers each half's bits from the block word (bit 63 the first bit of
  // the block); bits not listed are masked off.
  std::array<uint8_t, 64> enterLeft;
  std::array<uint8_t, 64> enterRight;
  uint64_t entered;  // the S-domain bits in use
  // Leaving gathers block word bit n from one half, R16 or L16, both
  // broadcast to every lane with one control; `fromR16` marks the bits
  // taken from R16.
  std::array<uint8_t, 64> leave;
  uint64_t fromR16;
};

constexpr Constants MakeConstants() {
  Constants c{};
  for (int b = 0; b < 8; ++b) {
    for (int u = 0; u < 6; ++u) {
      const int i = kExpansion[6 * b + 5 - u];  // the R bit, 1-based
      const uint8_t source = static_cast<uint8_t>(SourceOfF(i));
      c.gather[u][Lane(b)] = source;
      c.gather[u][8 + Lane(b)] = source;
    }
  }
  for (int p = 0; p < 4; ++p)
    for (unsigned e = 0; e < 64; ++e)
      c.table[p][e] = static_cast<uint8_t>(serial::SBox(2 * p, e) | serial::SBox(2 * p + 1, e) << 4);
  for (int q = 1; q <= 32; ++q) {
    // S-domain bit of S output q is half bit PermutedPosition(q); L bit i
    // is IP output bit i, which is block bit kInitialPermutation[i - 1],
    // R bit i IP output bit 32 + i. Block bit n is word bit 64 - n.
    const int s = (q - 1) / 4;
    const int j = (q - 1) % 4;
    const int i = serial::PermutedPosition(q);
    c.enterLeft[NibbleBit(s, j)] = static_cast<uint8_t>(64 - kInitialPermutation[i - 1]);
    c.enterRight[NibbleBit(s, j)] = static_cast<uint8_t>(64 - kInitialPermutation[32 + i - 1]);
    c.entered |= uint64_t{1} << NibbleBit(s, j);
  }
  for (int n = 1; n <= 64; ++n) {
    // Output bit n is bit m of the pre-output block R16 L16.
    const int m = kFinalPermutation[n - 1];
    c.leave[64 - n] = static_cast<uint8_t>(SourceOfF(m <= 32 ? m : m - 32));
    if (m <= 32) c.fromR16 |= uint64_t{1} << (64 - n);
  }
  return c;
}

alignas(64) constexpr Constants kConst = MakeConstants();

inline __m128i Load16(const std::array<uint8_t, 16> &bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes.data()));
}
inline __m512i Load64(const std::array<uint8_t, 64> &bytes) { return _mm512_loadu_si512(bytes.data()); }

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

struct Tables {
  __m128i gather[6];
  __m256i low[4];   // bytes 0-31 of each table
  __m256i high[4];  // bytes 32-63
};

inline Tables LoadTables() {
  Tables t;
  for (int u = 0; u < 6; ++u) t.gather[u] = Load16(kConst.gather[u]);
  for (int p = 0; p < 4; ++p) {
    t.low[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kConst.table[p].data()));
    t.high[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kConst.table[p].data() + 32));
  }
  return t;
}

// The bytes of boxes 2p + 1 and 2p + 2, in both lanes.
constexpr __mmask32 kPairBytes[4] = {0xC0C0, 0x3030, 0x0C0C, 0x0303};

// The S-boxes on index bytes, XORed into `l`.
inline __m128i Lookup(const __m128i l, const __m128i index128, const Tables &t) {
  // The upper half of the index is left undefined (no instruction to
  // clear it on the path): its lookups are masked off.
  const __m256i index = _mm256_castsi128_si256(index128);
  __m128i pair[4];
  for (int p = 0; p < 4; ++p)
    pair[p] = _mm256_castsi256_si128(declared::PermuteBytes(kPairBytes[p], t.low[p], index, t.high[p]));
  return declared::TernaryLogic<0x96>(declared::TernaryLogic<0x96>(l, pair[0], pair[1]), pair[2], pair[3]);
}

// One round, `l` XOR f(`r`) in the S domain, on two blocks (one a lane):
// a gather for each plane.
inline __m128i Round(const __m128i l, const __m128i r, const RoundKey &key, const Tables &t) {
  __mmask16 bit[6];
  for (int u = 0; u < 6; ++u) bit[u] = declared::BitGather(r, t.gather[u]);
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

// A block word into the S domain, IP included: the halves' bits as masks.
inline void Enter(uint64_t block, uint64_t &left, uint64_t &right) {
  const __m512i w = _mm512_set1_epi64(static_cast<long long>(block));
  left = declared::BitGather(kConst.entered, w, Load64(kConst.enterLeft));
  right = declared::BitGather(kConst.entered, w, Load64(kConst.enterRight));
}

// Lane `n` of the halves (R16 in `l`, L16 in `r`, as the rounds leave
// them) back to a block word, IP^-1 included.
template <int N>
inline uint64_t Leave(const Halves &h) {
  const __m512i r16 = _mm512_maskz_broadcastq_epi64(0xFF, N == 0 ? h.l : _mm_unpackhi_epi64(h.l, h.l));
  const __m512i l16 = _mm512_maskz_broadcastq_epi64(0xFF, N == 0 ? h.r : _mm_unpackhi_epi64(h.r, h.r));
  const __m512i control = Load64(kConst.leave);
  return declared::BitGather(kConst.fromR16, r16, control) |
         declared::BitGather(~kConst.fromR16, l16, control);
}

inline Halves EnterTwo(uint64_t first, uint64_t second) {
  uint64_t l0, r0, l1, r1;
  Enter(first, l0, r0);
  Enter(second, l1, r1);
  return {_mm_set_epi64x(static_cast<long long>(l1), static_cast<long long>(l0)),
          _mm_set_epi64x(static_cast<long long>(r1), static_cast<long long>(r0))};
}

}  // namespace

namespace serial {

// Two blocks a register, two registers at once: four blocks in flight.
// Every block of a group is read before any is written.

void VbmiPairsCbcDecrypt(const TripleDesSchedule &schedule, uint64_t &chain, const uint8_t *in,
                         std::size_t blocks, uint8_t *out) {
  if (blocks == 0) return;
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
        h0.l = Round(h0.l, h0.r, k1, t);
        h1.l = Round(h1.l, h1.r, k1, t);
        h0.r = Round(h0.r, h0.l, k2, t);
        h1.r = Round(h1.r, h1.l, k2, t);
      }
      std::swap(h0.l, h0.r);
      std::swap(h1.l, h1.r);
    }
    taint::Control(h0.l);
    const uint64_t p[4] = {Leave<0>(h0), Leave<1>(h0), Leave<0>(h1), Leave<1>(h1)};
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
        h.l = Round(h.l, h.r, MakeRoundKey(keys.round[pass == 1 ? k : 15 - k]), t);
        h.r = Round(h.r, h.l, MakeRoundKey(keys.round[pass == 1 ? k + 1 : 14 - k]), t);
      }
      std::swap(h.l, h.r);
    }
    taint::Control(h.l);
    StoreBlock(Leave<0>(h) ^ previous, out + 8 * i);
    if (two) StoreBlock(Leave<1>(h) ^ c0, out + 8 * (i + 1));
    previous = two ? c1 : c0;
  }
  chain = SwapBlockOrder(previous);
}

}  // namespace serial

}  // namespace compatcrypt::des
