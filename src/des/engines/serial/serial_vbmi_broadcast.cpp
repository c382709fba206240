// The serial engine on AVX-512 VBMI and BITALG whose S-box indices come by
// mask broadcast ("vbmi_broadcast"), built for the latency of one chain of
// rounds: CBC encryption and the single-DES steps, where each round waits
// for the last. Beside it, serial_vbmi_planes.cpp builds the indices plane
// by plane; which is faster depends on the machine (see the dispatch).
//
// State. The two halves are kept with P undone (the S domain: each bit
// where the S-box output bit it comes from lies), in one 128-bit register
// of two 64-bit lanes. The S-boxes are taken in pairs (2p, 2p + 1): pairs
// 0 and 1 fill bytes 0 and 1 of a lane, pairs 2 and 3 bytes 4 and 5; box
// 2p sits in the first byte, 2p + 1 in the second, in the low and the high
// nibble for even p and the other way round for odd p. Bytes 2, 3, 6 and 7
// are never read, so whatever lands there is harmless.
//
// Key. E only copies a bit into two neighbouring boxes, so the subkey bits
// of boxes 1, 3, 5 and 7 can be XORed into the half itself, each at the S-
// domain place of the bit E brings to it, without two of them meeting;
// likewise those of boxes 2, 4, 6 and 8. Lane 0 carries the half XORed
// with the first group, lane 1 with the second. The key is thereby off the
// chain: the next half is (previous half ^ f) in the new round key's form,
// and previous ^ (its key ^ the new key) is ready a round early.
//
// Round. For each pair, independently: one bit gather (VPSHUFBITQMB)
// brings box 2p's six inputs from lane 0 and box 2p + 1's from lane 1 into
// a 16-bit mask, E after P folded into its control; a broadcast
// (VPBROADCASTMW2D) turns the mask into two index bytes; one byte permute
// (VPERMB, 512 bits) of a 64-entry table holding both boxes as nibbles
// gives both outputs, zeroing the bytes of other pairs. Two selects by
// nibble merge pairs 0 with 1 and 2 with 3, one three-way XOR adds the
// keyed previous half. No data-dependent address or branch: the tables are
// registers and a permute's timing does not depend on its index.
//
// Order. The gathers, broadcasts and permutes all run on the same two
// vector pipes, so the twelve of a round queue for them. Issued stage by
// stage (the four gathers, then the four broadcasts, then the four
// permutes) they keep the chain's order; interleaved pair by pair, as the
// compiler tends to emit them, a round took two cycles more on Zen 5
// (about 15.5 against 17.5; one pair alone is a 14-cycle chain).
//
// Every CPU with VBMI and BITALG has AVX512CD, which the broadcast needs.
#include <immintrin.h>

#include <array>
#include <bit>

#include "des/engines/serial/serial_support.h"
#include "des/engines/serial/serial_vbmi_lanes.h"
#include "des/engines/serial/serial_vbmi_schedule.h"
#include "des/engines/serial_engine.h"
#include "support/declared_instructions.h"
#include "support/secure_wipe.h"
#include "support/taint_check.h"

namespace compatcrypt::des {

namespace {

// The lane bit of output bit j (0 = most significant) of box b (0-based).
constexpr int NibbleBit(int b, int j) {
  const int p = b / 2;
  const int byte = (p < 2 ? 0 : 4) + (b & 1);
  const int high = (b & 1) ^ (p & 1);
  return 8 * byte + 4 * high + 3 - j;
}

// The lane bit that f bit i (1-based, P's output, the index E reads) is.
constexpr int SourceOfF(int i) {
  const int q = kPermutation[i - 1] - 1;
  return NibbleBit(q / 4, q % 4);
}

// The bit of a subkey word (des_schedule.h) that meets input j (0 = first)
// of box b.
constexpr int SubkeyBit(int b, int j) { return 8 * (7 - b) + 5 - j; }

// Lane 1's key bits are carried in bytes 2, 3, 6 and 7 of a spread word,
// lane 0's in bytes 0, 1, 4 and 5: the lanes are the word and the word
// shifted right by 16.
constexpr int kLaneShift = 16;

struct Constants {
  // Pair p's gather: bytes 0-5 read box 2p's inputs from lane 0, bytes
  // 8-13 box 2p + 1's from lane 1, the first input into bit 5.
  std::array<std::array<uint8_t, 16>, 4> gather;
  // Pair p's table: entry e holds both boxes on input e, box 2p in the
  // nibble it has in the state.
  std::array<std::array<uint8_t, 64>, 4> table;
  // A subkey word spread into the S domain, both groups in one word.
  std::array<uint8_t, 64> spread;
  uint64_t spreadUsed;
  // A block word (bit 63 the block's first bit) into L in bytes 0, 1, 4
  // and 5 and R in bytes 2, 3, 6 and 7, IP included.
  std::array<uint8_t, 64> enter;
  uint64_t entered;
  // Back from R16 in bytes 0, 1, 4, 5 and L16 in bytes 2, 3, 6, 7 to a
  // block word, IP^-1 included.
  std::array<uint8_t, 64> leave;
};

constexpr Constants MakeConstants() {
  Constants c{};
  for (int p = 0; p < 4; ++p) {
    for (int k = 0; k < 6; ++k) {
      c.gather[p][k] = static_cast<uint8_t>(SourceOfF(kExpansion[6 * (2 * p) + 5 - k]));
      c.gather[p][8 + k] = static_cast<uint8_t>(SourceOfF(kExpansion[6 * (2 * p + 1) + 5 - k]));
    }
    for (unsigned e = 0; e < 64; ++e) {
      const unsigned first = serial::SBox(2 * p, e), second = serial::SBox(2 * p + 1, e);
      c.table[p][e] = static_cast<uint8_t>(p % 2 == 0 ? first | second << 4 : first << 4 | second);
    }
  }
  for (int b = 0; b < 8; ++b) {
    for (int j = 0; j < 6; ++j) {
      const int at = SourceOfF(kExpansion[6 * b + j]) + kLaneShift * (b & 1);
      if (c.spreadUsed >> at & 1) throw "two key bits of one group meet";
      c.spread[at] = static_cast<uint8_t>(SubkeyBit(b, j));
      c.spreadUsed |= uint64_t{1} << at;
    }
  }
  for (int i = 1; i <= 32; ++i) {
    // L bit i is IP output bit i, block bit kInitialPermutation[i - 1],
    // which is word bit 64 minus that; R bit i is IP output bit 32 + i.
    c.enter[SourceOfF(i)] = static_cast<uint8_t>(64 - kInitialPermutation[i - 1]);
    c.enter[SourceOfF(i) + kLaneShift] = static_cast<uint8_t>(64 - kInitialPermutation[32 + i - 1]);
    c.entered |= uint64_t{1} << SourceOfF(i) | uint64_t{1} << (SourceOfF(i) + kLaneShift);
  }
  for (int n = 1; n <= 64; ++n) {
    // Output bit n is bit m of the pre-output block R16 L16.
    const int m = kFinalPermutation[n - 1];
    c.leave[64 - n] = static_cast<uint8_t>(m <= 32 ? SourceOfF(m) : SourceOfF(m - 32) + kLaneShift);
  }
  return c;
}

alignas(64) constexpr Constants kConst = MakeConstants();

// Every bit the state uses, in each lane and each half, and no other.
constexpr bool LayoutIsTight() {
  uint64_t used = 0;
  for (int i = 1; i <= 32; ++i) used |= uint64_t{1} << SourceOfF(i);
  // 48 key bits, 24 a group, each where one E input of its box reads.
  return used == 0x0000FFFF0000FFFFu && kConst.entered == ~uint64_t{0} &&
         std::popcount(kConst.spreadUsed) == 48;
}
static_assert(LayoutIsTight(), "the S domain does not fill bytes 0, 1, 4 and 5 of a lane");

inline __m512i Load64(const std::array<uint8_t, 64> &bytes) { return _mm512_loadu_si512(bytes.data()); }

struct Tables {
  __m128i gather[4];
  __m512i table[4];
  __m128i merge;  // per dword, box 2p's nibbles of pairs 0 and 2
};

inline Tables LoadTables() {
  Tables t;
  for (int p = 0; p < 4; ++p) {
    t.gather[p] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kConst.gather[p].data()));
    t.table[p] = Load64(kConst.table[p]);
  }
  t.merge = _mm_set1_epi32(0x0000F00F);
  return t;
}

// The low 128 bits. (GCC 12 warns about the cast intrinsic's undefined
// operand; this is the same register, no instruction.)
inline __m128i Low128(const __m512i x) {
  const auto q = reinterpret_cast<__v8di>(x);
  return reinterpret_cast<__m128i>(__builtin_shufflevector(q, q, 0, 1));
}

// The bytes of pairs 0 and 1, 2 and 3, in both lanes of the low 128 bits.
constexpr __mmask64 kPairBytes[4] = {0x0303, 0x0303, 0x3030, 0x3030};

// One round: f(`cur`) XOR `keyed`, the previous half already carrying the
// change of key. Returns the next half in the next round key's form. The
// lookup is a one-table VPERMB over 64 bytes, which reads a 6-bit index
// as it is; only the low 128 bits of its result are kept. The empty asm
// claims to change the four indices, so that the compiler cannot move a
// permute in among the broadcasts (see Order above); it emits nothing.
inline __m128i Round(const __m128i cur, const __m128i keyed, const Tables &t) {
  __mmask16 bits[4];
  __m512i index[4];
  __m128i out[4];
  for (int p = 0; p < 4; ++p) bits[p] = declared::BitGather(cur, t.gather[p]);
  for (int p = 0; p < 4; ++p) index[p] = declared::BroadcastMask(bits[p]);
  declared::Pin(index);
  for (int p = 0; p < 4; ++p) out[p] = Low128(declared::PermuteBytes(kPairBytes[p], index[p], t.table[p]));
  const __m128i low = declared::TernaryLogic<0xCA>(t.merge, out[0], out[1]);
  const __m128i high = declared::TernaryLogic<0xCA>(t.merge, out[2], out[3]);
  return declared::TernaryLogic<0x96>(low, high, keyed);
}

// A subkey word's spread in both lanes' form.
inline __m128i SpreadKey(uint64_t subkey) {
  const uint64_t w = declared::BitGather(kConst.spreadUsed, _mm512_set1_epi64(static_cast<long long>(subkey)),
                                         Load64(kConst.spread));
  // Lane 1 is the word's bytes 2, 3 and 6, 7 moved to 0, 1 and 4, 5 (the
  // bytes between are never read).
  static_assert(kLaneShift == 16);
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 2, 3, 2, 3, 6, 7, 6, 7);
  return _mm_shuffle_epi8(_mm_set_epi64x(0, static_cast<long long>(w)), lanes);
}

// A block word into the S domain: L and R, each in both lanes.
struct Entered {
  __m128i l;
  __m128i r;
};

inline Entered Enter(uint64_t block) {
  const uint64_t w = declared::BitGather(kConst.entered, _mm512_set1_epi64(static_cast<long long>(block)),
                                         Load64(kConst.enter));
  return {_mm_set1_epi64x(static_cast<long long>(w)),
          _mm_set1_epi64x(static_cast<long long>(w >> kLaneShift))};
}

// R16 and L16 (lane 0 read) back to a block word. (The masked broadcast
// keeps GCC from warning about the unmasked form's undefined source.)
inline uint64_t Leave(const __m128i r16, const __m128i l16) {
  const __m128i both = _mm_mask_blend_epi8(0xCC, r16, _mm_slli_epi64(l16, kLaneShift));
  return declared::BitGather(~__mmask64{0}, _mm512_maskz_broadcastq_epi64(0xFF, both), Load64(kConst.leave));
}

// The rounds as the chain sees them, g counted from the first, key[g] the
// spread subkey of round g. Round g turns (prev, cur) into (cur, X), X =
// f(cur) ^ prev ^ key[g - 1] ^ key[g + 1], where cur carries key[g] and
// prev key[g - 1], so that X carries key[g + 1]. Where a DES operation
// ends (the next one starts from R16, L16, the halves exchanged) X = f(cur)
// ^ prev ^ key[g - 1] ^ key[g], and the state becomes (X, cur ^ key[g] ^
// key[g + 1]): the next round's input is then ready before X, and the two
// rounds overlap.

// One DES operation, key[-1] taken as zero, entering and leaving included.
// The subkeys are spread as the rounds go and stay in registers. Branch-
// free (the direction orders the subkeys by arithmetic, not by a branch),
// and a function of its own so that the check of the built library finds
// it.
__attribute__((noinline)) uint64_t CryptFeistel(const DesSchedule &schedule, uint64_t block, bool decrypt) {
  const Tables t = LoadTables();
  const int backwards = decrypt;
  const uint64_t *subkey = schedule.round + 15 * backwards;
  const std::ptrdiff_t step = 1 - 2 * backwards;
  __m128i key[16];
  for (int g = 0; g < 2; ++g) key[g] = SpreadKey(subkey[step * g]);
  const Entered in = Enter(block);
  __m128i prev = _mm_xor_si128(in.r, key[0]);
  __m128i cur = Round(prev, _mm_xor_si128(in.l, key[1]), t);
#pragma GCC unroll 14
  for (int g = 1; g < 15; ++g) {
    key[g + 1] = SpreadKey(subkey[step * (g + 1)]);
    const __m128i x = Round(cur, declared::TernaryLogic<0x96>(prev, key[g - 1], key[g + 1]), t);
    prev = cur;
    cur = x;
  }
  const __m128i x = Round(cur, declared::TernaryLogic<0x96>(prev, key[14], key[15]), t);
  // R16 and L16, each carrying key[15].
  return Leave(_mm_xor_si128(x, key[15]), _mm_xor_si128(cur, key[15]));
}

uint64_t Crypt(const DesSchedule &schedule, uint64_t block, bool decrypt) {
  return CryptFeistel(schedule, block, decrypt);
}

// Triple DES in CBC: keys 0-15 the outer schedule, 16-31 the middle one
// backwards, 32-47 the outer one again. The chain runs on from block to
// block, key[-1] being key[47]: the state after round 47 is (R16, L16) in
// key[47]'s form, and the next plain block (entered, so in the same S
// domain: entering is linear) XORed into it starts the next block.
struct ChainKeys {
  __m128i outer[16];
  __m128i middle[16];

  // key[g], g taken modulo 48; resolved at compile time in the rounds.
  const __m128i &operator[](int g) const {
    g = (g + 48) % 48;
    return g < 16 ? outer[g] : g < 32 ? middle[31 - g] : outer[g - 32];
  }
};

// One block's 48 rounds; `state` holds prev in the high and cur in the low
// 128 bits, before and after. Writes the cipher block to `out` and enters
// the next plain block (`next`, entered) into the state. The first block
// of a call also spreads the subkeys (all but key[0] and key[15], which
// the caller needs first), each a round before it is needed, so that the
// chain does not wait for all 32.
template <bool First>
__attribute__((noinline)) __m256i TripleFeistel(const __m256i state, const Entered next, ChainKeys &k,
                                                const TripleDesSchedule &schedule, uint8_t *out) {
  const Tables t = LoadTables();
  __m128i prev = _mm256_extracti128_si256(state, 1);
  __m128i cur = _mm256_castsi256_si128(state);
#pragma GCC unroll 47
  for (int g = 0; g < 47; ++g) {
    if constexpr (First) {
      const int n = g + 1;  // first read by this round
      if (n < 15) k.outer[n] = SpreadKey(schedule.outer.round[n]);
      if (n >= 16 && n < 32) k.middle[31 - n] = SpreadKey(schedule.middle.round[31 - n]);
    }
    const bool ends = g % 16 == 15;
    const __m128i x = Round(cur, declared::TernaryLogic<0x96>(prev, k[g - 1], k[ends ? g : g + 1]), t);
    if (ends) {
      prev = x;
      cur = declared::TernaryLogic<0x96>(cur, k[g], k[g + 1]);
    } else {
      prev = cur;
      cur = x;
    }
  }
  const __m128i x = Round(cur, declared::TernaryLogic<0x96>(prev, k[46], k[47]), t);
  taint::Control(x);
  StoreBlock(Leave(_mm_xor_si128(x, k[47]), _mm_xor_si128(cur, k[47])), out);
  prev = _mm_xor_si128(x, next.l);
  cur = _mm_xor_si128(declared::TernaryLogic<0x96>(cur, k[47], k[48]), next.r);
  return _mm256_inserti128_si256(_mm256_castsi128_si256(cur), prev, 1);
}

void CbcEncrypt(const TripleDesSchedule &schedule, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                uint8_t *out) {
  if (blocks == 0) return;
  ChainKeys k;
  k.outer[0] = SpreadKey(schedule.outer.round[0]);
  k.outer[15] = SpreadKey(schedule.outer.round[15]);
  const Entered first = Enter(SwapBlockOrder(chain) ^ LoadBlock(in));
  __m256i state = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_xor_si128(first.r, k[0])),
                                          _mm_xor_si128(first.l, k[47]), 1);
  const auto next = [&](std::size_t i) {
    return i + 1 < blocks ? Enter(LoadBlock(in + 8 * (i + 1)))
                          : Entered{_mm_setzero_si128(), _mm_setzero_si128()};
  };
  state = TripleFeistel<true>(state, next(0), k, schedule, out);
  for (std::size_t i = 1; i < blocks; ++i)
    state = TripleFeistel<false>(state, next(i), k, schedule, out + 8 * i);
  chain = LoadRaw(out + 8 * (blocks - 1));
  SecureWipe(k);
}

}  // namespace

const SerialDesEngine kSerialVbmiBroadcast = {"vbmi_broadcast", serial::VbmiSchedule,        Crypt,
                                              CbcEncrypt,       serial::VbmiLanesCbcDecrypt, 176};

}  // namespace compatcrypt::des
