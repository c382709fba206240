// The serial engine on AVX-512 VBMI and BITALG whose S-box indices are built
// plane by plane ("vbmi_planes"), for one chain of rounds: CBC encryption
// and the single-DES steps. Beside it, serial_vbmi_broadcast.cpp takes the
// key off the chain and builds a box pair's indices by one mask broadcast;
// which is faster depends on the machine (see the dispatch).
//
// Layout (serial_vbmi_planes.h): one block a lane, P undone. A single block
// is held in both lanes of a register, and each gather brings two planes,
// one from each lane: three gathers a round instead of six, with the two
// lanes' index parts XORed together by one swap of the lanes. The lookups
// are four 256-bit VPERMI2B of a table in two registers, masked to their
// boxes, merged into the other half by two three-way XORs. The subkey sits
// in the low lane only and joins the index with the first gather's bits,
// off the round's chain.
//
// Every CPU with VBMI and BITALG has AVX512CD; this engine needs only BW,
// VL, VBMI and BITALG of it.
#include "des/engines/serial/serial_vbmi_planes.h"

#include <immintrin.h>

#include <array>

#include "des/engines/serial/serial_vbmi_lanes.h"
#include "des/engines/serial/serial_vbmi_schedule.h"
#include "des/engines/serial_engine.h"
#include "support/declared_instructions.h"
#include "support/taint_check.h"

namespace compatcrypt::des {

namespace {

using namespace serial::planes;

// For one block held in both lanes: gather g brings plane 2g in the low
// lane and plane 2g + 1 in the high one, and `weight` gives each its bit.
struct PairedPlanes {
  std::array<std::array<uint8_t, 16>, 3> gather;
  std::array<std::array<uint8_t, 16>, 3> weight;
};

constexpr PairedPlanes MakePairedPlanes() {
  PairedPlanes c{};
  for (int b = 0; b < 8; ++b)
    for (int u = 0; u < 6; ++u) {
      c.gather[u / 2][8 * (u % 2) + Lane(b)] = kLayout.gather[u][Lane(b)];
      c.weight[u / 2][8 * (u % 2) + Lane(b)] = static_cast<uint8_t>(1 << u);
    }
  return c;
}

alignas(64) constexpr PairedPlanes kPaired = MakePairedPlanes();

// The four tables in registers, each as two 32-byte halves for VPERMI2B.
struct Tables {
  __m256i low[4];   // entries 0-31
  __m256i high[4];  // entries 32-63
};

inline Tables LoadTables() {
  Tables t;
  for (int p = 0; p < 4; ++p) {
    t.low[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kLayout.table[p].data()));
    t.high[p] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kLayout.table[p].data() + 32));
  }
  return t;
}

// `l` XOR the S-boxes of the index bytes (both lanes). Each permute writes
// only its boxes' bytes and zeroes the others.
inline __m128i Lookup(const __m128i l, const __m128i index128, const Tables &t) {
  // The bytes of boxes 2p + 1 and 2p + 2, in both lanes.
  constexpr __mmask32 kPairBytes[4] = {0xC0C0, 0x3030, 0x0C0C, 0x0303};
  // The upper half of the index is left undefined (no instruction to
  // clear it on the path): its lookups are masked off.
  const __m256i index = _mm256_castsi128_si256(index128);
  __m128i pair[4];
  for (int p = 0; p < 4; ++p)
    pair[p] = _mm256_castsi256_si128(declared::PermuteBytes(kPairBytes[p], t.low[p], index, t.high[p]));
  return declared::TernaryLogic<0x96>(declared::TernaryLogic<0x96>(l, pair[0], pair[1]), pair[2], pair[3]);
}

struct Gathers {
  __m128i gather[3];
  __m128i weight[3];
};

inline Gathers LoadGathers() {
  Gathers g;
  for (int i = 0; i < 3; ++i) {
    g.gather[i] = Load16(kPaired.gather[i]);
    g.weight[i] = Load16(kPaired.weight[i]);
  }
  return g;
}

// A subkey as the round uses it: the index bytes' fixed bits (the subkey's
// six bits, low lane only), with the first gather's bit unset and set.
struct RoundKey {
  __m128i base;
  __m128i flipped;
};

inline RoundKey MakeRoundKey(uint64_t word, const Gathers &g) {
  RoundKey key;
  key.base = _mm_set_epi64x(0, static_cast<long long>(word));
  key.flipped = _mm_xor_si128(key.base, g.weight[0]);
  return key;
}

// One round, `l` XOR f(`r`) in the S domain, on one block in both lanes:
// three gathers of two planes each, the two lanes' parts of the index
// XORed together, the lookups.
inline __m128i Round(const __m128i l, const __m128i r, const RoundKey &key, const Gathers &g,
                     const Tables &t) {
  __mmask16 bit[3];
  for (int i = 0; i < 3; ++i) bit[i] = declared::BitGather(r, g.gather[i]);
  const __m128i halves = declared::TernaryLogic<0x96>(_mm_mask_blend_epi8(bit[0], key.base, key.flipped),
                                                      _mm_maskz_mov_epi8(bit[1], g.weight[1]),
                                                      _mm_maskz_mov_epi8(bit[2], g.weight[2]));
  return Lookup(l, _mm_xor_si128(halves, _mm_shuffle_epi32(halves, 0x4E)), t);
}

// The halves of one block in the S domain, in both lanes.
struct Halves {
  __m128i l;
  __m128i r;
};

inline Halves EnterBoth(uint64_t block) {
  const EnteredWords w = Enter(block);
  return {_mm_set1_epi64x(static_cast<long long>(w.l)), _mm_set1_epi64x(static_cast<long long>(w.r))};
}

// Sixteen rounds under `schedule`, forwards or backwards; they leave R16
// in `l` and L16 in `r`, the order IP^-1 reads, which is also L0, R0 of a
// following operation.
template <bool Backwards>
inline void Rounds(Halves &h, const DesSchedule &schedule, const Gathers &g, const Tables &t) {
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    h.l = Round(h.l, h.r, MakeRoundKey(schedule.round[Backwards ? 15 - i : i], g), g, t);
    h.r = Round(h.r, h.l, MakeRoundKey(schedule.round[Backwards ? 14 - i : i + 1], g), g, t);
  }
  const __m128i l16 = h.l;
  h.l = h.r;
  h.r = l16;
}

// One DES operation, entering and leaving included. Branch-free (the
// direction orders the subkeys by arithmetic, not by a branch), and a
// function of its own so that the check of the built library finds it.
__attribute__((noinline)) uint64_t PlanesFeistel(const DesSchedule &schedule, uint64_t block, bool decrypt) {
  const Gathers g = LoadGathers();
  const Tables t = LoadTables();
  const int backwards = decrypt;
  const uint64_t *subkey = schedule.round + 15 * backwards;
  const std::ptrdiff_t step = 1 - 2 * backwards;
  Halves h = EnterBoth(block);
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    h.l = Round(h.l, h.r, MakeRoundKey(subkey[step * i], g), g, t);
    h.r = Round(h.r, h.l, MakeRoundKey(subkey[step * (i + 1)], g), g, t);
  }
  return Leave(h.r, h.l);
}

uint64_t Crypt(const DesSchedule &schedule, uint64_t block, bool decrypt) {
  return PlanesFeistel(schedule, block, decrypt);
}

// One block of triple DES (encrypt outer, decrypt middle, encrypt outer):
// `state` holds the entered block's L in the low and R in the high 128
// bits, and comes back as the entered cipher block. Writes the cipher
// block to `out`.
__attribute__((noinline)) __m256i PlanesTripleFeistel(const __m256i state, const TripleDesSchedule &schedule,
                                                      uint8_t *out) {
  const Gathers g = LoadGathers();
  const Tables t = LoadTables();
  Halves h = {_mm256_castsi256_si128(state), _mm256_extracti128_si256(state, 1)};
  Rounds<false>(h, schedule.outer, g, t);
  Rounds<true>(h, schedule.middle, g, t);
  Rounds<false>(h, schedule.outer, g, t);
  taint::Control(h.l);
  StoreBlock(Leave(h.l, h.r), out);
  return _mm256_inserti128_si256(_mm256_castsi128_si256(h.l), h.r, 1);
}

// Entering the S domain is linear, so the chain stays there: the state the
// rounds leave is the entered form of the cipher block, and XORing in the
// entered plain block gives the entered form of their XOR. The next plain
// block is entered before this one's rounds, off their path.
void CbcEncrypt(const TripleDesSchedule &schedule, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                uint8_t *out) {
  if (blocks == 0) return;
  const auto entered = [](uint64_t block) {
    const Halves h = EnterBoth(block);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(h.l), h.r, 1);
  };
  __m256i state = entered(SwapBlockOrder(chain));
  __m256i next = entered(LoadBlock(in));
  for (std::size_t i = 0; i < blocks; ++i) {
    state = _mm256_xor_si256(state, next);
    if (i + 1 < blocks) next = entered(LoadBlock(in + 8 * (i + 1)));
    state = PlanesTripleFeistel(state, schedule, out + 8 * i);
  }
  chain = LoadRaw(out + 8 * (blocks - 1));
}

}  // namespace

const SerialDesEngine kSerialVbmiPlanes = {"vbmi_planes", serial::VbmiSchedule,        Crypt,
                                           CbcEncrypt,    serial::VbmiLanesCbcDecrypt, 176};

}  // namespace compatcrypt::des
