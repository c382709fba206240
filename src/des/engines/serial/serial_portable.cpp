// The portable serial engine: general registers only, and no memory
// address or branch taken from secret data.
//
// Each S-box output bit is a Boolean function of the box's six input bits,
// held as a 64-bit truth table, and is read by a shift or bit test whose
// count is the input: these take the same time for every count. Every bit
// is read on its own, so P costs nothing: each lands where P sends it.
//
// E reads overlapping six-bit windows of R. With R in both halves of a
// 64-bit word every window is a run of bits, so a box's input is at most
// one shift away, and the reads ignore the bits above the low six. The
// halves are kept that way, doubled, from IP to IP^-1, and turned right by
// three bits so that one window starts at bit 0 and another at bit 8. The
// subkey is rearranged once per call into two words laid over the windows
// (the odd boxes' windows do not overlap, nor do the even boxes'), so two
// XORs key all eight boxes.
#include <cstdint>

#include "des/engines/serial/serial_support.h"
#include "des/engines/serial_engine.h"
#include "support/declared_instructions.h"
#include "support/secure_wipe.h"
#include "support/taint_check.h"

namespace compatcrypt::des {

namespace {

// How far the halves are turned right.
constexpr int kTurn = 3;

// Box b's input window in the doubled, turned R starts at bit kWindow[b]
// (its last E bit; for box 1 the first, R bit 32, is in the upper copy).
constexpr int kWindow[8] = {27 - kTurn, 23 - kTurn, 19 - kTurn, 15 - kTurn,
                            11 - kTurn, 7 - kTurn,  3 - kTurn,  31 - kTurn};

constexpr uint32_t Turn(uint32_t x) { return (x >> kTurn) | (x << (32 - kTurn)); }
constexpr uint32_t Unturn(uint32_t x) { return (x << kTurn) | (x >> (32 - kTurn)); }
constexpr uint64_t Doubled(uint32_t x) { return (uint64_t{x} << 32) | x; }

// Where f bit i (1-based from the most significant) sits in a turned half,
// counted from the least significant bit.
constexpr int TurnedPosition(int i) { return (32 - i - kTurn + 32) % 32; }

// One round's subkey over the windows: boxes 1, 3, 5, 7 and 2, 4, 6, 8.
struct RoundKey {
  uint64_t odd;
  uint64_t even;
};

struct WindowSchedule {
  RoundKey round[16];
};

void SpreadSchedule(const DesSchedule &schedule, WindowSchedule &spread) {
  for (int r = 0; r < 16; ++r) {
    uint64_t words[2] = {0, 0};
    for (int b = 0; b < 8; ++b) words[b & 1] |= ((schedule.round[r] >> (56 - 8 * b)) & 63) << kWindow[b];
    spread.round[r] = {words[0], words[1]};
  }
}

// Box b's input in the low six bits; the bits above are ignored.
template <int B>
inline uint64_t Count(uint64_t odd, uint64_t even) {
  const uint64_t keyed = B % 2 == 0 ? odd : even;
  if constexpr (kWindow[B] == 8)
    return static_cast<uint8_t>(keyed >> 8);  // a byte move, not a shift
  else
    return keyed >> kWindow[B];
}

// An empty asm that claims to change `x`: keeps the compiler from merging
// or reordering the arithmetic around it into a longer chain.
using declared::Pin;

// Two ways to read the tables: bit tests on x86-64 (the "portable" engine
// there), rotates everywhere (the "portable" engine elsewhere, and on
// x86-64 the "rotates" engine, so that its code runs in the tests on every
// machine and under the constant-time check, which sees through rotates
// but not through bit tests; see below).
#if defined(__x86_64__)

// f bit by bit in the order of the turned half, most significant first, as
// two chains of sixteen: BT copies the table's bit at the count (taken mod
// 64) into the carry and ADC shifts it in. Two instructions a bit.
//
// BT with a register operand touches no memory, but valgrind models it as
// a load at an address formed from the bit number, so memcheck would report
// the secret count as an address: the valgrind check runs the "rotates"
// engine in this one's place, and the native check (MemorySanitizer) runs
// this one, the bit test declared in support/declared_instructions.h. The
// bit tests stay in one function of their own (BitTestFeistel, never
// inlined), which holds no memory access but constant table reads.
struct ChainOrder {
  uint8_t box[32];
  uint64_t table[32];
};

constexpr ChainOrder MakeChainOrder() {
  ChainOrder order{};
  for (int i = 1; i <= 32; ++i) {
    const int q = kPermutation[i - 1] - 1;  // S-box output bit q + 1 is f bit i
    const int b = q / 4;
    const int j = q % 4;
    uint64_t table = 0;
    for (unsigned in = 0; in < 64; ++in) table |= uint64_t{(serial::SBox(b, in) >> (3 - j)) & 1u} << in;
    const int slot = 31 - TurnedPosition(i);
    order.box[slot] = static_cast<uint8_t>(b);
    order.table[slot] = table;
  }
  return order;
}

alignas(64) constexpr ChainOrder kChain = MakeChainOrder();

inline void ShiftIn(uint64_t &chain, const uint64_t &table, uint64_t count) {
  chain = declared::ShiftInTableBit(chain, table, count);
}

// f, turned and doubled.
__attribute__((noinline)) uint64_t BitTestFeistel(uint64_t r, const RoundKey &k) {
  const uint64_t odd = r ^ k.odd;
  const uint64_t even = r ^ k.even;
  const uint64_t count[8] = {Count<0>(odd, even), Count<1>(odd, even), Count<2>(odd, even),
                             Count<3>(odd, even), Count<4>(odd, even), Count<5>(odd, even),
                             Count<6>(odd, even), Count<7>(odd, even)};
  uint64_t high = 0;
  uint64_t low = 0;
  for (int t = 0; t < 16; ++t) {
    ShiftIn(high, kChain.table[t], count[kChain.box[t]]);
    ShiftIn(low, kChain.table[16 + t], count[kChain.box[16 + t]]);
  }
  // Both halves placed and doubled by multiplies, off the shift units the
  // bit tests keep busy.
  uint64_t a = high * 0x0001000000010000u;
  uint64_t b = low * 0x0000000100000001u;
  Pin(a);
  Pin(b);
  return a + b;
}

struct BitTests {
  static uint64_t Feistel(uint64_t r, const RoundKey &k) { return BitTestFeistel(r, k); }
};

#endif

// Each table is stored rotated so that rotating it right by the input
// brings the wanted bit to its place in the turned half; an AND keeps it.
struct TruthTables {
  uint64_t table[8][4];    // box, output bit (first = most significant)
  uint32_t bit[8][4];      // where that output bit lands
  uint8_t position[8][4];  // the same as a bit number
};

constexpr TruthTables MakeTruthTables() {
  TruthTables t{};
  for (int b = 0; b < 8; ++b) {
    for (int j = 0; j < 4; ++j) {
      const int position = TurnedPosition(serial::PermutedPosition(4 * b + j + 1));
      uint64_t table = 0;
      for (unsigned in = 0; in < 64; ++in)
        table |= uint64_t{(serial::SBox(b, in) >> (3 - j)) & 1u} << ((position + in) & 63);
      t.table[b][j] = table;
      t.bit[b][j] = uint32_t{1} << position;
      t.position[b][j] = static_cast<uint8_t>(position);
    }
  }
  return t;
}

constexpr TruthTables kTruth = MakeTruthTables();

inline uint64_t RotateRight(uint64_t x, unsigned n) {
  n &= 63;
  return (x >> n) | (x << ((64 - n) & 63));
}

// The bit of `table` that rotating it right by `in` brings to `position`.
// Where registers hold 64 bits that is the rotate. Where they hold 32, a
// 64-bit shift by a variable count compiles to a branch on the count's
// bit 5, which would be a branch on a secret: the word that holds the bit
// is chosen by a mask instead, and shifted by less than 32.
inline uint64_t TableBit(uint64_t table, unsigned in, uint32_t bit, unsigned position) {
#if UINTPTR_MAX > 0xFFFFFFFFu
  (void)position;
  return RotateRight(table, in) & bit;
#else
  (void)bit;
  const unsigned i = (in + position) & 63;
  const uint32_t upper = 0u - ((i >> 5) & 1u);
  const uint32_t word =
      (static_cast<uint32_t>(table) & ~upper) | (static_cast<uint32_t>(table >> 32) & upper);
  return ((word >> (i & 31)) & 1u) << position;
#endif
}

template <int B>
inline uint64_t Box(uint64_t odd, uint64_t even) {
  const unsigned in = static_cast<unsigned>(Count<B>(odd, even));
  uint64_t o[4];
  for (int j = 0; j < 4; ++j)
    o[j] = TableBit(kTruth.table[B][j], in, kTruth.bit[B][j], kTruth.position[B][j]);
  uint64_t a = o[0] | o[1];
  uint64_t c = o[2] | o[3];
  Pin(a);
  Pin(c);
  return a | c;
}

struct Rotates {
  static uint64_t Feistel(uint64_t r, const RoundKey &k);
};

inline uint64_t Rotates::Feistel(uint64_t r, const RoundKey &k) {
  const uint64_t odd = r ^ k.odd;
  const uint64_t even = r ^ k.even;
  uint64_t f01 = Box<0>(odd, even) | Box<1>(odd, even);
  uint64_t f23 = Box<2>(odd, even) | Box<3>(odd, even);
  uint64_t f45 = Box<4>(odd, even) | Box<5>(odd, even);
  uint64_t f67 = Box<6>(odd, even) | Box<7>(odd, even);
  Pin(f01);
  Pin(f23);
  Pin(f45);
  Pin(f67);
  uint64_t lo = f01 | f23;
  uint64_t hi = f45 | f67;
  Pin(lo);
  Pin(hi);
  return Doubled(static_cast<uint32_t>(lo | hi));
}

// A block after IP as the rounds hold it (both halves turned and doubled),
// and back.
struct Halves {
  uint64_t l;
  uint64_t r;
};

inline Halves Enter(uint64_t block) {
  return {Doubled(Turn(static_cast<uint32_t>(block >> 32))), Doubled(Turn(static_cast<uint32_t>(block)))};
}

inline uint64_t Leave(const Halves &h) {
  return (uint64_t{Unturn(static_cast<uint32_t>(h.l))} << 32) | Unturn(static_cast<uint32_t>(h.r));
}

// The 16 rounds on N independent blocks; they leave R16 in `l` and L16 in
// `r`, the order IP^-1 reads, which is also L0, R0 of a following
// operation: IP^-1 and IP cancel between chained operations.
template <typename F, bool Decrypt, int N>
inline void Rounds(Halves (&h)[N], const WindowSchedule &k) {
  for (int i = 0; i < 16; i += 2) {
    const RoundKey &k1 = k.round[Decrypt ? 15 - i : i];
    const RoundKey &k2 = k.round[Decrypt ? 14 - i : i + 1];
    for (int n = 0; n < N; ++n) h[n].l ^= F::Feistel(h[n].r, k1);
    for (int n = 0; n < N; ++n) h[n].r ^= F::Feistel(h[n].l, k2);
  }
  for (int n = 0; n < N; ++n) h[n] = {h[n].r, h[n].l};
}

struct WindowTriple {
  WindowSchedule outer;
  WindowSchedule middle;
};

// Encrypt outer, decrypt middle, encrypt outer, or its inverse.
template <typename F, bool Decrypt, int N>
inline void TripleRounds(Halves (&h)[N], const WindowTriple &k) {
  Rounds<F, Decrypt, N>(h, k.outer);
  Rounds<F, !Decrypt, N>(h, k.middle);
  Rounds<F, Decrypt, N>(h, k.outer);
  taint::Control(h[0].l);
}

template <typename F>
uint64_t Crypt(const DesSchedule &schedule, uint64_t block, bool decrypt) {
  WindowSchedule k;
  SpreadSchedule(schedule, k);
  Halves h[1] = {Enter(serial::InitialPermutation(block))};
  if (decrypt)
    Rounds<F, true, 1>(h, k);
  else
    Rounds<F, false, 1>(h, k);
  SecureWipe(k);
  return serial::FinalPermutation(Leave(h[0]));
}

template <typename F>
void CbcEncrypt(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                uint8_t *out) {
  WindowTriple k;
  SpreadSchedule(keys.outer, k.outer);
  SpreadSchedule(keys.middle, k.middle);
  // IP and the entry into the rounds' form are linear: the form of
  // IP(P ^ C) is that of IP(P) XOR that of IP(C), and the form of IP(C) of
  // the previous block is the state its rounds left. So the chain stays
  // in that form, and IP^-1 of each block is off the path to the next.
  Halves h[1] = {Enter(serial::InitialPermutation(SwapBlockOrder(chain)))};
  for (std::size_t i = 0; i < blocks; ++i) {
    const Halves p = Enter(serial::InitialPermutation(LoadBlock(in + 8 * i)));
    h[0].l ^= p.l;
    h[0].r ^= p.r;
    TripleRounds<F, false, 1>(h, k);
    StoreBlock(serial::FinalPermutation(Leave(h[0])), out + 8 * i);
  }
  chain = SwapBlockOrder(serial::FinalPermutation(Leave(h[0])));
  SecureWipe(k);
}

// N blocks of CBC decryption at once: their rounds are independent and
// interleave. All N are read before any is written.
template <typename F, int N>
std::size_t DecryptGroups(const WindowTriple &k, uint64_t &previous, const uint8_t *in, std::size_t blocks,
                          uint8_t *out) {
  std::size_t i = 0;
  for (; i + N <= blocks; i += N) {
    uint64_t cipher[N];
    Halves h[N];
    for (int n = 0; n < N; ++n) {
      cipher[n] = LoadBlock(in + 8 * (i + n));
      h[n] = Enter(serial::InitialPermutation(cipher[n]));
    }
    TripleRounds<F, true, N>(h, k);
    for (int n = 0; n < N; ++n)
      StoreBlock(serial::FinalPermutation(Leave(h[n])) ^ (n == 0 ? previous : cipher[n - 1]),
                 out + 8 * (i + n));
    previous = cipher[N - 1];
  }
  return i;
}

template <typename F>
void CbcDecrypt(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                uint8_t *out) {
  WindowTriple k;
  SpreadSchedule(keys.outer, k.outer);
  SpreadSchedule(keys.middle, k.middle);
  uint64_t previous = SwapBlockOrder(chain);
  const std::size_t done = DecryptGroups<F, 2>(k, previous, in, blocks, out);
  DecryptGroups<F, 1>(k, previous, in + 8 * done, blocks - done, out + 8 * done);
  chain = SwapBlockOrder(previous);
  SecureWipe(k);
}

}  // namespace

#if defined(__x86_64__)
const SerialDesEngine kSerialPortable = {"portable",           DesKeySchedulePortable, Crypt<BitTests>,
                                         CbcEncrypt<BitTests>, CbcDecrypt<BitTests>,   12};
const SerialDesEngine kSerialRotates = {"rotates",           DesKeySchedulePortable, Crypt<Rotates>,
                                        CbcEncrypt<Rotates>, CbcDecrypt<Rotates>,    8};
#else
const SerialDesEngine kSerialPortable = {"portable",          DesKeySchedulePortable, Crypt<Rotates>,
                                         CbcEncrypt<Rotates>, CbcDecrypt<Rotates>,    12};
#endif

}  // namespace compatcrypt::des
