// The layout of the VBMI engines whose S-box indices are built plane by
// plane: the chained engine (serial_vbmi_planes.cpp) and the decryption of
// independent blocks (serial_vbmi_lanes.cpp), which both VBMI engines use.
// Included by files built for AVX-512 VBMI and BITALG only.
//
// A block is a 64-bit lane. Its halves are kept with P undone (the S
// domain): byte 7 - b of the lane holds the output nibble of S-box b + 1,
// the low nibble for boxes 1, 3, 5, 7 and the high one for the others; the
// other nibble is left over from the lookup and never read. A round is then:
//
//   - E after P as bit gathers (VPSHUFBITQMB): plane u, input bit u of
//     every box, is one gather of the eight boxes' source bits, into a mask;
//   - the planes and the subkey's bits into index bytes, one per box;
//   - the S-boxes as byte permutes of tables held in registers, each table
//     byte holding two boxes as nibbles;
//   - the outputs merged into the other half by three-way XORs.
//
// No data-dependent address or branch: tables are registers, every lookup
// is a permute whose timing does not depend on its index.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "des/engines/serial/serial_support.h"
#include "support/declared_instructions.h"

namespace compatcrypt::des::serial::planes {

// The lane byte of box b (0-based): the schedule's words are big-endian, so
// a subkey word loaded as it is puts box b's bits there.
constexpr int Lane(int b) { return 7 - b; }

// The lane bit of output bit j (0 = most significant) of box b.
constexpr int NibbleBit(int b, int j) { return 8 * Lane(b) + 4 * (b & 1) + 3 - j; }

// The lane bit that f bit i (1-based, P's output, the index E reads) is.
constexpr int SourceOfF(int i) {
  const int q = kPermutation[i - 1] - 1;
  return NibbleBit(q / 4, q % 4);
}

struct Layout {
  // Plane u (input bit u of every box, bit 5 the first E bit): for box b,
  // the lane bit that E and P bring there; both lanes alike.
  std::array<std::array<uint8_t, 16>, 6> gather;
  // Boxes 2p + 1 and 2p + 2: entry e holds both on input e, the first in
  // the low nibble.
  std::array<std::array<uint8_t, 64>, 4> table;
  // Blocks into the S domain, IP included: each half's bits gathered from
  // the block word (bit 63 the first bit of the block); bits not listed are
  // masked off.
  std::array<uint8_t, 64> enterLeft;
  std::array<uint8_t, 64> enterRight;
  uint64_t entered;  // the S-domain bits in use
  // Back to a block word, IP^-1 included: word bit n from R16 or L16, both
  // gathered with one control; `fromR16` marks the bits taken from R16.
  std::array<uint8_t, 64> leave;
  uint64_t fromR16;
};

constexpr Layout MakeLayout() {
  Layout c{};
  for (int b = 0; b < 8; ++b) {
    for (int u = 0; u < 6; ++u) {
      const uint8_t source = static_cast<uint8_t>(SourceOfF(kExpansion[6 * b + 5 - u]));
      c.gather[u][Lane(b)] = source;
      c.gather[u][8 + Lane(b)] = source;
    }
  }
  for (int p = 0; p < 4; ++p)
    for (unsigned e = 0; e < 64; ++e)
      c.table[p][e] = static_cast<uint8_t>(SBox(2 * p, e) | SBox(2 * p + 1, e) << 4);
  for (int q = 1; q <= 32; ++q) {
    // S output q is half bit PermutedPosition(q); L bit i is IP output bit
    // i, which is block bit kInitialPermutation[i - 1], R bit i IP output
    // bit 32 + i. Block bit n is word bit 64 - n.
    const int s = (q - 1) / 4;
    const int j = (q - 1) % 4;
    const int i = PermutedPosition(q);
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

alignas(64) inline constexpr Layout kLayout = MakeLayout();

inline __m128i Load16(const std::array<uint8_t, 16> &bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes.data()));
}
inline __m512i Load64(const std::array<uint8_t, 64> &bytes) { return _mm512_loadu_si512(bytes.data()); }

// A block word's halves in the S domain, each in the low bits of a word.
struct EnteredWords {
  uint64_t l;
  uint64_t r;
};

inline EnteredWords Enter(uint64_t block) {
  const __m512i w = _mm512_set1_epi64(static_cast<long long>(block));
  return {declared::BitGather(kLayout.entered, w, Load64(kLayout.enterLeft)),
          declared::BitGather(kLayout.entered, w, Load64(kLayout.enterRight))};
}

// R16 and L16 of one block, each in the low lane, back to a block word.
inline uint64_t Leave(const __m128i r16, const __m128i l16) {
  const __m512i control = Load64(kLayout.leave);
  return declared::BitGather(kLayout.fromR16, _mm512_maskz_broadcastq_epi64(0xFF, r16), control) |
         declared::BitGather(~kLayout.fromR16, _mm512_maskz_broadcastq_epi64(0xFF, l16), control);
}

// The same from R16 and L16 as words.
inline uint64_t Leave(const uint64_t r16, const uint64_t l16) {
  const __m512i control = Load64(kLayout.leave);
  return declared::BitGather(kLayout.fromR16, _mm512_set1_epi64(static_cast<long long>(r16)), control) |
         declared::BitGather(~kLayout.fromR16, _mm512_set1_epi64(static_cast<long long>(l16)), control);
}

}  // namespace compatcrypt::des::serial::planes
