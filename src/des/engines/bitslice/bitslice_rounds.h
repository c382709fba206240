// The bitsliced triple DES shared by every bitsliced engine, written once
// over a word type V and its gate set G (each engine's source file
// instantiates it with its own instruction set; nothing here is compiled on
// its own).
//
// A pass holds 64 words, "planes": plane j carries bit j of every block as
// it lies in memory, read as a little-endian 64-bit word (bit j is bit j % 8
// of byte j / 8). A W-lane word is W / 64 lanes of 64 bits; lane g of the k-th
// word in memory is block k * (W / 64) + g before the transpose, and the
// transpose exchanges, in every lane, word index with bit index.
//
// G supplies, on V:
//   And, Or, Xor, AndNot (~a & b), Not       the two-input gates
//   Lut<imm>(a, b, c)                        three-input gates (if Lut3)
//   XorAnd(a, b, m) = (a ^ b) & m, Shr<s>, Shl<s> in 64-bit lanes
//   Constant(uint64_t) in every lane, XorMask(a, mask): a XOR the 32-bit
//   mask (all ones or all zeros) in every element
//   Load(p): a word from memory at any alignment
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "des/engines/bitslice_engine.h"
#include "des/tables/des_tables.h"
#include "des/tables/sbox_circuits.h"
#include "support/taint_check.h"

namespace compatcrypt::des::bitslice {

// The plane of DES bit n (1-based, bit 1 the most significant bit of the
// first byte).
constexpr int PlaneOfBit(int n) { return 8 * ((n - 1) / 8) + 7 - (n - 1) % 8; }

struct PlaneMaps {
  std::array<uint8_t, 32> left{};   // plane of L bit i + 1 after IP
  std::array<uint8_t, 32> right{};  // plane of R bit i + 1 after IP
  // Output bit i + 1 of the S-boxes (S1 first) lands on f bit kIntoF[i] + 1.
  std::array<uint8_t, 32> intoF{};
  // After the rounds the pre-output block R16 L16 sits in the planes of R
  // and L (an even number of rounds); IP^-1 moves plane gather[j] to plane j.
  std::array<uint8_t, 64> gather{};
};

constexpr PlaneMaps MakePlaneMaps() {
  PlaneMaps m;
  for (int i = 0; i < 32; ++i) {
    m.left[i] = static_cast<uint8_t>(PlaneOfBit(kInitialPermutation[i]));
    m.right[i] = static_cast<uint8_t>(PlaneOfBit(kInitialPermutation[32 + i]));
    m.intoF[kPermutation[i] - 1] = static_cast<uint8_t>(i);
  }
  for (int n = 1; n <= 64; ++n) {
    const int pre = kFinalPermutation[n - 1];  // bit of R16 L16
    m.gather[PlaneOfBit(n)] = pre <= 32 ? m.right[pre - 1] : m.left[pre - 33];
  }
  return m;
}

inline constexpr PlaneMaps kMaps = MakePlaneMaps();

// One step on eight words held in registers: words j and j + D (j without
// bit D) exchange the bits that are Shift apart under the mask.
template <class G, class V, int Shift, int D>
inline void Exchange(V (&r)[8], uint64_t maskBits) {
  const V mask = G::Constant(maskBits);
  for (int j = 0; j < 8; ++j) {
    if ((j & D) != 0) continue;
    const V t = G::XorAnd(G::template Shr<Shift>(r[j]), r[j + D], mask);
    r[j + D] = G::Xor(r[j + D], t);
    r[j] = G::Xor(r[j], G::template Shl<Shift>(t));
  }
}

// Swaps bit index and word index within each 64-bit lane of 64 words: bit
// c of word r trades places with bit r of word c, one bit of the two
// indices per step. Its own inverse. The steps of 32, 16 and 8 words pair
// words within each set {i, i + 8, ..., i + 56}, those of 4, 2 and 1 within
// each run of eight; so each set of eight is loaded once for three steps
// and stored once, two sweeps over the words in all.
//
// Word j is read from word Order[j] of `in` (a renaming, such as IP^-1 on
// the planes; `in` need not be aligned); the first sweep writes to `mid`,
// the second to `out`. `out` may be `in`; `mid` may be `in` only where
// Order leaves every word in place.
template <class G, class V, const std::array<uint8_t, 64> &Order>
inline void Transpose(const unsigned char *in, V *mid, V *out) {
  constexpr uint64_t kMasks[6] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull, 0x00FF00FF00FF00FFull,
                                  0x0F0F0F0F0F0F0F0Full, 0x3333333333333333ull, 0x5555555555555555ull};
  for (int i = 0; i < 8; ++i) {
    V r[8];
    for (int j = 0; j < 8; ++j) r[j] = G::Load(in + sizeof(V) * Order[i + 8 * j]);
    Exchange<G, V, 32, 4>(r, kMasks[0]);
    Exchange<G, V, 16, 2>(r, kMasks[1]);
    Exchange<G, V, 8, 1>(r, kMasks[2]);
    for (int j = 0; j < 8; ++j) mid[i + 8 * j] = r[j];
  }
  for (int i = 0; i < 64; i += 8) {
    V r[8];
    for (int j = 0; j < 8; ++j) r[j] = mid[i + j];
    Exchange<G, V, 4, 4>(r, kMasks[3]);
    Exchange<G, V, 2, 2>(r, kMasks[4]);
    Exchange<G, V, 1, 1>(r, kMasks[5]);
    for (int j = 0; j < 8; ++j) out[i + j] = r[j];
  }
}

constexpr std::array<uint8_t, 64> MakeInPlace() {
  std::array<uint8_t, 64> order{};
  for (int j = 0; j < 64; ++j) order[j] = static_cast<uint8_t>(j);
  return order;
}

// The orders the transposes read in: as the words lie, and IP^-1 (an
// object of its own, as a template argument must be).
inline constexpr std::array<uint8_t, 64> kInPlace = MakeInPlace();
inline constexpr std::array<uint8_t, 64> kGather = kMaps.gather;

// S-box B (0-based) with either gate set.
template <int B, bool Lut3, class G, class V>
inline void SBox(V x1, V x2, V x3, V x4, V x5, V x6, V &o1, V &o2, V &o3, V &o4) {
  using namespace circuits;
#define COMPATCRYPT_SBOX_CASE(n)                                     \
  if constexpr (B == n - 1) {                                        \
    if constexpr (Lut3)                                              \
      SBox##n##Gates3<G, V>(x1, x2, x3, x4, x5, x6, o1, o2, o3, o4); \
    else                                                             \
      SBox##n##Gates2<G, V>(x1, x2, x3, x4, x5, x6, o1, o2, o3, o4); \
  }
  COMPATCRYPT_SBOX_CASE(1)
  COMPATCRYPT_SBOX_CASE(2)
  COMPATCRYPT_SBOX_CASE(3)
  COMPATCRYPT_SBOX_CASE(4)
  COMPATCRYPT_SBOX_CASE(5)
  COMPATCRYPT_SBOX_CASE(6)
  COMPATCRYPT_SBOX_CASE(7)
  COMPATCRYPT_SBOX_CASE(8)
#undef COMPATCRYPT_SBOX_CASE
}

// One round on the planes: the half held in the planes of L (`IntoLeft`)
// or of R takes f of the other half under the 48 key masks `k`.
template <bool Lut3, class G, class V, bool IntoLeft, int B>
inline void RoundBox(V *p, const uint32_t *k) {
  constexpr const std::array<uint8_t, 32> &To = IntoLeft ? kMaps.left : kMaps.right;
  constexpr const std::array<uint8_t, 32> &From = IntoLeft ? kMaps.right : kMaps.left;
  constexpr int e = 6 * B;
  auto in = [&](int j) { return G::XorMask(p[From[kExpansion[e + j] - 1]], k[e + j]); };
  V &o1 = p[To[kMaps.intoF[4 * B]]];
  V &o2 = p[To[kMaps.intoF[4 * B + 1]]];
  V &o3 = p[To[kMaps.intoF[4 * B + 2]]];
  V &o4 = p[To[kMaps.intoF[4 * B + 3]]];
  SBox<B, Lut3, G, V>(in(0), in(1), in(2), in(3), in(4), in(5), o1, o2, o3, o4);
}

template <bool Lut3, class G, class V, bool IntoLeft>
inline void Round(V *p, const uint32_t *k) {
  RoundBox<Lut3, G, V, IntoLeft, 0>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 1>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 2>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 3>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 4>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 5>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 6>(p, k);
  RoundBox<Lut3, G, V, IntoLeft, 7>(p, k);
}

// Sixteen rounds of one DES operation. `LeftFirst`: the first round updates
// the planes of L (true for the first and third operations of a triple,
// whose predecessor left R16 L16 in the planes of R and L). Subkeys run 1 to
// 16 to encrypt, 16 to 1 to decrypt.
template <bool Lut3, class G, class V, bool LeftFirst, bool Decrypt>
inline void DesRounds(V *p, const uint32_t (*subkeys)[48]) {
  for (int i = 0; i < 16; i += 2) {
    const uint32_t *k0 = subkeys[Decrypt ? 15 - i : i];
    const uint32_t *k1 = subkeys[Decrypt ? 14 - i : i + 1];
    Round<Lut3, G, V, LeftFirst>(p, k0);
    Round<Lut3, G, V, !LeftFirst>(p, k1);
  }
}

// Two-key triple DES on one pass of planes, in place: IP is a renaming, and
// the three operations follow one another with no permutation in between.
// The result is R16 L16 in the planes of R and L; IP^-1 is left to the
// reader of the planes.
template <bool Lut3, class G, class V, bool Decrypt>
inline void TripleDes(V *p, const BitsliceKeys &keys) {
  DesRounds<Lut3, G, V, true, Decrypt>(p, keys.mask[0]);
  DesRounds<Lut3, G, V, false, !Decrypt>(p, keys.mask[1]);
  DesRounds<Lut3, G, V, true, Decrypt>(p, keys.mask[0]);
  taint::Control(p[0]);
}

// A whole pass: 64 words of V as they lie in memory, read from `in` (any
// alignment; it may be `blocks`) and written to `blocks`. IP^-1 is the
// order in which the transpose back reads the planes.
template <bool Lut3, class G, class V, bool Decrypt>
inline void CryptPass(const BitsliceKeys &keys, const unsigned char *in, V *blocks, V *scratch) {
  Transpose<G, V, kInPlace>(in, blocks, blocks);
  TripleDes<Lut3, G, V, Decrypt>(blocks, keys);
  Transpose<G, V, kGather>(reinterpret_cast<const unsigned char *>(blocks), scratch, blocks);
}

}  // namespace compatcrypt::des::bitslice
