// The VBMI serial engines' CBC decryption: independent blocks, one a 64-bit
// lane, in the plane layout of serial_vbmi_planes.h.
//
// A round on a 512-bit register of eight blocks: six plane gathers
// (VPSHUFBITQMB), each bringing one input bit of all 64 boxes into a mask;
// the planes into index bytes by masked moves of their weights and three-
// way XORs, the subkey with them; then all eight boxes by two 512-bit
// VPERMI2B of a 128-entry table held in two registers: boxes 1 to 4 look up
// pairs (1, 2) and (3, 4), boxes 5 to 8 pairs (5, 6) and (7, 8), the
// index's bit 6 choosing the pair, set by the key word; a three-way XOR
// merges both into the other half. Eighteen instructions serve eight
// blocks.
//
// Measured on Zen 5 (EPYC, family 26), in cycles: a 512-bit gather and the
// masked move of its mask take 8 together, where the 128-bit forms take 5,
// so one register's round is a chain of about 17 cycles (about 20
// measured, entering and leaving included); four registers in flight (32
// blocks) fill the gaps, at about 35 cycles a round, 50 a block (the
// chained rounds of CBC encryption: about 760 a block). One or two blocks
// take a 128-bit round instead (two blocks a register, the lookup on the
// same 512-bit tables), a 13-cycle chain.
#include "des/engines/serial/serial_vbmi_lanes.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "des/engines/serial/serial_vbmi_planes.h"
#include "support/declared_instructions.h"
#include "support/secure_wipe.h"
#include "support/taint_check.h"

namespace compatcrypt::des {

namespace {

using namespace serial::planes;

constexpr int kMaxRegs = 4;  // 512-bit registers in flight
constexpr std::size_t kGroup = 8 * kMaxRegs;

// Bit 6 of the index bytes of boxes 3, 4, 7 and 8: the second table of a
// 512-bit lookup (a 256-bit lookup reads six bits and ignores it).
constexpr uint64_t kSecondPair = 0x0000404000004040u;
static_assert(Lane(2) == 5 && Lane(3) == 4 && Lane(6) == 1 && Lane(7) == 0);

// ---- 512 bits: eight blocks a register ----

struct WideLayout {
  std::array<std::array<uint8_t, 64>, 6> gather;  // plane u's control in every lane
};

constexpr WideLayout MakeWideLayout() {
  WideLayout c{};
  for (int u = 0; u < 6; ++u)
    for (int i = 0; i < 64; ++i) c.gather[u][i] = kLayout.gather[u][i % 8];
  return c;
}

alignas(64) constexpr WideLayout kWide = MakeWideLayout();

// Bytes 4-7 (boxes 1-4) and 0-3 (boxes 5-8) of every lane.
constexpr __mmask64 kFirstFour = 0xF0F0F0F0F0F0F0F0u, kLastFour = 0x0F0F0F0F0F0F0F0Fu;

struct WideRegisters {
  __m512i gather[6];
  // 1 << u in every byte, pinned: a constant the compiler saw would become
  // a masked broadcast from a general register, slower on the round's path.
  __m512i weight[6];
  __m512i first[2];   // pairs (1, 2) and (3, 4): entries 0-63 and 64-127
  __m512i second[2];  // pairs (5, 6) and (7, 8)
};

inline WideRegisters LoadRegisters(__m512i) {
  WideRegisters g;
  for (int u = 0; u < 6; ++u) {
    g.gather[u] = Load64(kWide.gather[u]);
    g.weight[u] = _mm512_set1_epi8(static_cast<char>(1 << u));
    declared::Pin(g.weight[u]);
  }
  for (int i = 0; i < 2; ++i) {
    g.first[i] = Load64(kLayout.table[i]);
    g.second[i] = Load64(kLayout.table[2 + i]);
  }
  return g;
}

inline __m512i Broadcast(__m512i, uint64_t word) { return _mm512_set1_epi64(static_cast<long long>(word)); }

// `l` XOR f(`r`) for eight blocks; `key` is the subkey word with the
// second-pair bits, in every lane.
inline __m512i Round(const __m512i l, const __m512i r, const __m512i key, const WideRegisters &g) {
  __mmask64 bit[6];
  for (int u = 0; u < 6; ++u) bit[u] = declared::BitGather(~__mmask64{0}, r, g.gather[u]);
  const __m512i low = declared::TernaryLogic<0x96>(_mm512_maskz_mov_epi8(bit[0], g.weight[0]),
                                                   _mm512_maskz_mov_epi8(bit[1], g.weight[1]),
                                                   _mm512_maskz_mov_epi8(bit[2], g.weight[2]));
  const __m512i high = declared::TernaryLogic<0x96>(_mm512_maskz_mov_epi8(bit[3], g.weight[3]),
                                                    _mm512_maskz_mov_epi8(bit[4], g.weight[4]),
                                                    _mm512_maskz_mov_epi8(bit[5], g.weight[5]));
  const __m512i index = declared::TernaryLogic<0x96>(low, high, key);
  return declared::TernaryLogic<0x96>(l, declared::PermuteBytes(kFirstFour, g.first[0], index, g.first[1]),
                                      declared::PermuteBytes(kLastFour, g.second[0], index, g.second[1]));
}

// ---- 128 bits: two blocks a register ----

// The same round with the gathers and index on 128 bits (two blocks), and
// the lookup on the 512-bit tables: two permutes and two masks, where
// 256-bit tables would take four of each (the masks then outnumber the
// mask registers, and the compiler spills them on the round's path).
struct NarrowRegisters {
  __m128i gather[6];
  __m128i weight[6];  // pinned, as above
  __m512i first[2];
  __m512i second[2];
};

// The low 128 bits (GCC 12 warns about the cast intrinsic's undefined
// operand; this is the same register, no instruction).
inline __m128i Low128(const __m512i x) {
  const auto q = reinterpret_cast<__v8di>(x);
  return reinterpret_cast<__m128i>(__builtin_shufflevector(q, q, 0, 1));
}

inline NarrowRegisters LoadRegisters(__m128i) {
  const WideRegisters wide = LoadRegisters(__m512i{});
  NarrowRegisters g;
  for (int u = 0; u < 6; ++u) {
    g.gather[u] = Load16(kLayout.gather[u]);
    g.weight[u] = Low128(wide.weight[u]);
  }
  for (int i = 0; i < 2; ++i) {
    g.first[i] = wide.first[i];
    g.second[i] = wide.second[i];
  }
  return g;
}

inline __m128i Broadcast(__m128i, uint64_t word) { return _mm_set1_epi64x(static_cast<long long>(word)); }

inline __m128i Round(const __m128i l, const __m128i r, const __m128i key, const NarrowRegisters &g) {
  __mmask16 bit[6];
  for (int u = 0; u < 6; ++u) bit[u] = declared::BitGather(r, g.gather[u]);
  const __m128i low = declared::TernaryLogic<0x96>(_mm_maskz_mov_epi8(bit[0], g.weight[0]),
                                                   _mm_maskz_mov_epi8(bit[1], g.weight[1]),
                                                   _mm_maskz_mov_epi8(bit[2], g.weight[2]));
  const __m128i high = declared::TernaryLogic<0x96>(_mm_maskz_mov_epi8(bit[3], g.weight[3]),
                                                    _mm_maskz_mov_epi8(bit[4], g.weight[4]),
                                                    _mm_maskz_mov_epi8(bit[5], g.weight[5]));
  // The index's upper lanes are whatever the register held: their
  // lookups are masked off.
  const __m512i index = _mm512_castsi128_si512(declared::TernaryLogic<0x96>(low, high, key));
  return declared::TernaryLogic<0x96>(
      l, Low128(declared::PermuteBytes(kFirstFour & 0xFFFF, g.first[0], index, g.first[1])),
      Low128(declared::PermuteBytes(kLastFour & 0xFFFF, g.second[0], index, g.second[1])));
}

// ---- both widths ----

// The halves of `Regs` registers of blocks, in the S domain.
template <typename Vec, int Regs>
struct Halves {
  Vec l[Regs];
  Vec r[Regs];
};

// Sixteen rounds, `keys` in the order of use; they leave R16 in `l` and L16
// in `r`, which is also L0, R0 of the next operation. The registers' rounds
// interleave. Branch-free, and a function of its own so that the check of
// the built library finds it.
template <typename Vec, int Regs>
__attribute__((noinline)) void LanesFeistel(Halves<Vec, Regs> &h, const uint64_t (&keys)[16]) {
  const auto g = LoadRegisters(Vec{});
  Vec l[Regs], r[Regs];
  for (int n = 0; n < Regs; ++n) {
    l[n] = h.l[n];
    r[n] = h.r[n];
  }
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    const Vec k1 = Broadcast(Vec{}, keys[i]);
    const Vec k2 = Broadcast(Vec{}, keys[i + 1]);
    for (int n = 0; n < Regs; ++n) l[n] = Round(l[n], r[n], k1, g);
    for (int n = 0; n < Regs; ++n) r[n] = Round(r[n], l[n], k2, g);
  }
  for (int n = 0; n < Regs; ++n) {
    h.l[n] = r[n];
    h.r[n] = l[n];
  }
}

// The subkeys in the order decryption uses them (the outer schedule
// backwards, the middle one forwards, the outer one backwards), each word
// with the second-pair bits.
struct Keys {
  uint64_t outerBackwards[16];
  uint64_t middle[16];
};

// `count` blocks (big-endian words) decrypted, before the chain's XOR, on
// Regs registers of `Vec`, which hold at least `count` lanes.
template <typename Vec, int Regs>
void DecryptGroup(const Keys &keys, const uint64_t *cipher, std::size_t count, uint64_t *plain) {
  constexpr int kLanes = sizeof(Vec) / 8;
  alignas(64) uint64_t l[kLanes * Regs] = {};
  alignas(64) uint64_t r[kLanes * Regs] = {};
  for (std::size_t q = 0; q < count; ++q) {
    const EnteredWords w = Enter(cipher[q]);
    l[q] = w.l;
    r[q] = w.r;
  }
  Halves<Vec, Regs> h;
  std::memcpy(h.l, l, sizeof l);
  std::memcpy(h.r, r, sizeof r);
  LanesFeistel<Vec, Regs>(h, keys.outerBackwards);
  LanesFeistel<Vec, Regs>(h, keys.middle);
  LanesFeistel<Vec, Regs>(h, keys.outerBackwards);
  taint::Control(h.l[0]);
  std::memcpy(l, h.l, sizeof l);  // R16
  std::memcpy(r, h.r, sizeof r);  // L16
  for (std::size_t q = 0; q < count; ++q) plain[q] = Leave(l[q], r[q]);
  SecureWipe(l);
  SecureWipe(r);
  SecureWipe(h);
}

}  // namespace

namespace serial {

// Groups of up to 32 blocks; every block of a group is read before any of
// its output is written, so `out` may trail `in` by up to 7 bytes.
void VbmiLanesCbcDecrypt(const TripleDesSchedule &schedule, uint64_t &chain, const uint8_t *in,
                         std::size_t blocks, uint8_t *out) {
  if (blocks == 0) return;
  Keys keys;
  for (int k = 0; k < 16; ++k) {
    keys.outerBackwards[k] = schedule.outer.round[15 - k] | kSecondPair;
    keys.middle[k] = schedule.middle.round[k] | kSecondPair;
  }
  uint64_t previous = SwapBlockOrder(chain);
  uint64_t cipher[kGroup], plain[kGroup];
  while (blocks != 0) {
    const std::size_t count = std::min(blocks, kGroup);
    for (std::size_t q = 0; q < count; ++q) cipher[q] = LoadBlock(in + 8 * q);
    if (count <= 2)
      DecryptGroup<__m128i, 1>(keys, cipher, count, plain);
    else if (count <= 8)
      DecryptGroup<__m512i, 1>(keys, cipher, count, plain);
    else if (count <= 16)
      DecryptGroup<__m512i, 2>(keys, cipher, count, plain);
    else if (count <= 24)
      DecryptGroup<__m512i, 3>(keys, cipher, count, plain);
    else
      DecryptGroup<__m512i, 4>(keys, cipher, count, plain);
    StoreBlock(plain[0] ^ previous, out);
    for (std::size_t q = 1; q < count; ++q) StoreBlock(plain[q] ^ cipher[q - 1], out + 8 * q);
    previous = cipher[count - 1];
    in += 8 * count;
    out += 8 * count;
    blocks -= count;
  }
  chain = SwapBlockOrder(previous);
  SecureWipe(keys);
  SecureWipe(plain);
}

}  // namespace serial

}  // namespace compatcrypt::des
