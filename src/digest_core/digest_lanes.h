// The digest's lane engine, written once over an operation set Ops (each
// instruction-set file instantiates it with its own; nothing here is
// compiled on its own).
//
// One block in each 32-bit lane: a group is Ops::kLanes blocks, and a pass
// runs two groups side by side, so that one group's chain of dependent
// operations leaves the units to the other's. The first five steps start
// from the fixed initial words, so what they take from those words is
// folded into constants. A last pass that is not full runs with its unused
// lanes zero (no byte is read for them) and leaves them out of the sums.
//
// Ops supplies, on its vector type V of kLanes 32-bit lanes:
//   Set(x)                   x in every lane
//   Add, Sub, Xor            lane by lane
//   Rotl<n>(x)               rotation left by n in every lane
//   Logical<g>(b, c, d)      f_g of the step group g (0 to 3)
//   Xor4(a, b, c, d)         a ^ b ^ c ^ d, the schedule's expansion
//   Load(p), Zero()          a row of kLanes words at any alignment; zeros
//   UnpackLo32, UnpackHi32,  the interleaves of words and of word pairs
//   UnpackLo64, UnpackHi64   within each 128-bit lane (punpck*)
//   TransposeQuads(r)        for each j < 4, the kLanes / 4 vectors j,
//                            4 + j, ... of r read as a square of 128-bit
//                            lanes, transposed
//   ByteSwap(x)              the bytes of every lane reversed
//   Mask, FirstLanes(n)      a mask of lanes 0 to n - 1 (n from 1 to kLanes)
//   AddMasked(s, x, m)       s + x in the lanes of m, s in the others
//   Store(p, x)              the lanes to p[0..kLanes - 1]
//
// The headers included here define no inline function, so no out-of-line
// copy built with an engine's flags can stand in for a portable one; the
// functions below are local to each engine through its Ops type.
#pragma once

#include <cstddef>
#include <cstdint>

#include "digest_core/digest_constants.h"
#include "support/taint_check.h"

namespace compatcrypt::digest_core::lanes {

consteval uint32_t RotlConstant(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
consteval uint32_t ChooseConstant(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (~b & d); }

inline constexpr uint32_t kA = kInitialWords[0], kB = kInitialWords[1], kC = kInitialWords[2],
                          kD = kInitialWords[3], kE = kInitialWords[4], kK0 = kStepConstants[0];
// Everything of steps 0 and 1 but their message words and the rotation of
// the A made in step 0; then the E plus K of steps 2 to 4, which are words
// of the initial state moved down.
inline constexpr uint32_t kStep0 = RotlConstant(kA, 5) + ChooseConstant(kB, kC, kD) + kE + kK0;
inline constexpr uint32_t kStep1 = ChooseConstant(kA, RotlConstant(kB, 30), kC) + kD + kK0;
inline constexpr uint32_t kStep2 = kC + kK0;
inline constexpr uint32_t kStep3 = RotlConstant(kB, 30) + kK0;
inline constexpr uint32_t kStep4 = RotlConstant(kA, 30) + kK0;
inline constexpr uint32_t kA30 = RotlConstant(kA, 30), kB30 = RotlConstant(kB, 30);

// Groups in flight in a full pass.
inline constexpr int kGroups = 2;

template <class V>
struct Lanes {
  V a, b, c, d, e;
};

// kLanes rows of kLanes words at r become columns (row j's word i goes to
// lane j of r[i]). First a 4x4 transpose of words in each 128-bit lane of
// each four rows, which leaves in lane L of r[4m + j] word 4L + j of rows
// 4m to 4m + 3; then the lanes themselves are transposed.
template <class Ops, class V = typename Ops::V>
[[gnu::always_inline]] inline void Transpose(V *r) {
  constexpr std::size_t lanes = Ops::kLanes;
  V t[lanes];
  for (std::size_t i = 0; i < lanes; i += 2) {
    t[i] = Ops::UnpackLo32(r[i], r[i + 1]);
    t[i + 1] = Ops::UnpackHi32(r[i], r[i + 1]);
  }
  for (std::size_t m = 0; m < lanes; m += 4) {
    r[m + 0] = Ops::UnpackLo64(t[m + 0], t[m + 2]);
    r[m + 1] = Ops::UnpackHi64(t[m + 0], t[m + 2]);
    r[m + 2] = Ops::UnpackLo64(t[m + 1], t[m + 3]);
    r[m + 3] = Ops::UnpackHi64(t[m + 1], t[m + 3]);
  }
  Ops::TransposeQuads(r);
}

// W[0..15] of `used` blocks, block j in lane j: each block is read as
// 16 / kLanes rows of kLanes words, the rows transposed into words, and each
// word made big-endian and given the sign-extended packing. The packing
// subtracts one unit of the next higher byte for each of bytes 1 to 3 with
// its top bit set, which is flipping those top bits and subtracting them
// all: (x ^ M) - M with M = 0x00808080, the flip made on the little-endian
// word before the swap.
template <class Ops, class V = typename Ops::V>
[[gnu::always_inline]] inline void LoadSchedule(const unsigned char *p, std::size_t used, V (&w)[16]) {
  constexpr std::size_t lanes = Ops::kLanes;
  for (std::size_t part = 0; part < 16 / lanes; ++part) {
    V *r = w + lanes * part;
    for (std::size_t j = 0; j < lanes; ++j)
      r[j] = j < used ? Ops::Load(p + j * kBlockSize + 4 * lanes * part) : Ops::Zero();
    Transpose<Ops>(r);
  }
  for (int i = 0; i < 16; ++i)
    w[i] = Ops::Sub(Ops::ByteSwap(Ops::Xor(w[i], Ops::Set(0x80808000))), Ops::Set(0x00808080));
}

// Steps 0 to 4 of G groups: B to E still hold words of the initial state,
// constant in every lane, and the choose function of constants is folded.
template <class Ops, int G, class V = typename Ops::V>
[[gnu::always_inline]] inline void FirstSteps(const V (&w)[G][16], Lanes<V> (&s)[G]) {
  for (int g = 0; g < G; ++g) {
    const V a1 = Ops::Add(w[g][0], Ops::Set(kStep0));
    const V a2 = Ops::Add(Ops::template Rotl<5>(a1), Ops::Add(w[g][1], Ops::Set(kStep1)));
    const V f2 = Ops::template Logical<0>(a1, Ops::Set(kA30), Ops::Set(kB30));
    const V a3 = Ops::Add(Ops::template Rotl<5>(a2), Ops::Add(f2, Ops::Add(w[g][2], Ops::Set(kStep2))));
    const V c1 = Ops::template Rotl<30>(a1);
    const V f3 = Ops::template Logical<0>(a2, c1, Ops::Set(kA30));
    const V a4 = Ops::Add(Ops::template Rotl<5>(a3), Ops::Add(f3, Ops::Add(w[g][3], Ops::Set(kStep3))));
    const V c2 = Ops::template Rotl<30>(a2);
    const V f4 = Ops::template Logical<0>(a3, c2, c1);
    const V a5 = Ops::Add(Ops::template Rotl<5>(a4), Ops::Add(f4, Ops::Add(w[g][4], Ops::Set(kStep4))));
    s[g] = Lanes<V>{a5, a4, Ops::template Rotl<30>(a3), c2, c1};
  }
}

// Step T of G groups side by side, then the steps after it. W is kept as a
// ring of sixteen. The new A is ROTL5(A) plus a sum that does not wait on
// A, so that each step's chain is short.
template <class Ops, int T, int G, class V = typename Ops::V>
[[gnu::always_inline]] inline void Steps(V (&w)[G][16], Lanes<V> (&s)[G]) {
  constexpr int group = T / 20;
  constexpr uint32_t k = kStepConstants[group];
  for (int g = 0; g < G; ++g) {
    if constexpr (T >= 16)
      w[g][T % 16] = Ops::template Rotl<1>(
          Ops::Xor4(w[g][(T - 3) % 16], w[g][(T - 8) % 16], w[g][(T - 14) % 16], w[g][T % 16]));
    // ROTL30(B) first: a three-input logical instruction that overwrites
    // its first operand may then take B.
    const V c = Ops::template Rotl<30>(s[g].b);
    const V f = Ops::template Logical<group>(s[g].b, s[g].c, s[g].d);
    const V rest = Ops::Add(f, Ops::Add(s[g].e, Ops::Add(w[g][T % 16], Ops::Set(k))));
    s[g].e = s[g].d;
    s[g].d = s[g].c;
    s[g].c = c;
    s[g].b = s[g].a;
    s[g].a = Ops::Add(Ops::template Rotl<5>(s[g].a), rest);
  }
  if constexpr (T < kScheduleWords - 1) Steps<Ops, T + 1, G>(w, s);
}

// One pass of G groups over `used` blocks (more than kLanes (G - 1)); the
// lanes past `used` are zero and left out of the lane sums.
template <class Ops, int G, class V = typename Ops::V>
[[gnu::always_inline]] inline void Pass(const unsigned char *p, std::size_t used, Lanes<V> &total) {
  constexpr std::size_t lanes = Ops::kLanes;
  V w[G][16];
  for (int g = 0; g < G; ++g) LoadSchedule<Ops>(p + g * lanes * kBlockSize, used - g * lanes, w[g]);
  Lanes<V> s[G];
  FirstSteps<Ops, G>(w, s);
  Steps<Ops, 5, G>(w, s);
  for (int g = 0; g < G; ++g) {
    const std::size_t filled = used - g * lanes;
    const typename Ops::Mask keep = Ops::FirstLanes(filled < lanes ? filled : lanes);
    total.a = Ops::AddMasked(total.a, s[g].a, keep);
    total.b = Ops::AddMasked(total.b, s[g].b, keep);
    total.c = Ops::AddMasked(total.c, s[g].c, keep);
    total.d = Ops::AddMasked(total.d, s[g].d, keep);
    total.e = Ops::AddMasked(total.e, s[g].e, keep);
  }
}

// A last pass of 1 to kLanes G blocks, with no more groups than they fill.
template <class Ops, int G, class V = typename Ops::V>
inline void LastPass(const unsigned char *p, std::size_t count, Lanes<V> &total) {
  if constexpr (G > 1) {
    if (count <= (G - 1) * Ops::kLanes) return LastPass<Ops, G - 1>(p, count, total);
  }
  Pass<Ops, G>(p, count, total);
}

// The sum of the lanes in unsigned words, modulo 2^32: the intrinsic
// headers' own reductions add signed ones, whose wrap is undefined.
template <class Ops, class V = typename Ops::V>
inline uint32_t SumLanes(V x) {
  uint32_t lanes[Ops::kLanes];
  Ops::Store(lanes, x);
  uint32_t sum = 0;
  for (const uint32_t lane : lanes) sum += lane;
  return sum;
}

// The engine: adds the transform result of each of `count` blocks to
// sums[0..4] (the contract of digest_engine.h).
template <class Ops, class V = typename Ops::V>
[[gnu::always_inline]] inline void DigestBlocks(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  constexpr std::size_t pass = kGroups * Ops::kLanes;
  // Lane sums over all passes, reduced once at the end.
  Lanes<V> total{Ops::Zero(), Ops::Zero(), Ops::Zero(), Ops::Zero(), Ops::Zero()};
  for (; count >= pass; count -= pass, blocks += pass * kBlockSize) Pass<Ops, kGroups>(blocks, pass, total);
  // The rest: as many groups as it fills.
  if (count != 0) LastPass<Ops, kGroups>(blocks, count, total);
  taint::Control(total.a);

  sums[0] += SumLanes<Ops>(total.a);
  sums[1] += SumLanes<Ops>(total.b);
  sums[2] += SumLanes<Ops>(total.c);
  sums[3] += SumLanes<Ops>(total.d);
  sums[4] += SumLanes<Ops>(total.e);
}

}  // namespace compatcrypt::digest_core::lanes
