// The S-box gate networks against the S-box tables. Each signal is a
// truth-table word: bit i of input word xk is bit k (1 = most significant) of
// the six-bit S-box input i, so one call evaluates a network on all 64 inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "des/tables/des_tables.h"
#include "des/tables/sbox_circuits.h"

namespace compatcrypt::test {
namespace {

// Plain word operations, counting every gate evaluated.
struct ScalarGates {
  static inline int calls = 0;
  static uint64_t And(uint64_t a, uint64_t b) { return ++calls, a & b; }
  static uint64_t Or(uint64_t a, uint64_t b) { return ++calls, a | b; }
  static uint64_t Xor(uint64_t a, uint64_t b) { return ++calls, a ^ b; }
  static uint64_t AndNot(uint64_t a, uint64_t b) { return ++calls, ~a & b; }
  static uint64_t Not(uint64_t a) { return ++calls, ~a; }
  // Bit ((a << 2) | (b << 1) | c) of Imm, as vpternlog computes it.
  template <unsigned Imm>
  static uint64_t Lut(uint64_t a, uint64_t b, uint64_t c) {
    ++calls;
    uint64_t r = 0;
    for (unsigned i = 0; i < 8; ++i)
      if ((Imm >> i) & 1) r |= ((i & 4) ? a : ~a) & ((i & 2) ? b : ~b) & ((i & 1) ? c : ~c);
    return r;
  }
};

using Word = uint64_t;
using Network = void (*)(Word, Word, Word, Word, Word, Word, Word &, Word &, Word &, Word &);

struct Case {
  int box;  // 0 = S1
  int set;  // 2: two-input gates, 3: three-input gates
  Network network;
};

using G = ScalarGates;
namespace c = des::circuits;
constexpr Case kCases[] = {
    {0, 2, c::SBox1Gates2<G, Word>}, {0, 3, c::SBox1Gates3<G, Word>}, {1, 2, c::SBox2Gates2<G, Word>},
    {1, 3, c::SBox2Gates3<G, Word>}, {2, 2, c::SBox3Gates2<G, Word>}, {2, 3, c::SBox3Gates3<G, Word>},
    {3, 2, c::SBox4Gates2<G, Word>}, {3, 3, c::SBox4Gates3<G, Word>}, {4, 2, c::SBox5Gates2<G, Word>},
    {4, 3, c::SBox5Gates3<G, Word>}, {5, 2, c::SBox6Gates2<G, Word>}, {5, 3, c::SBox6Gates3<G, Word>},
    {6, 2, c::SBox7Gates2<G, Word>}, {6, 3, c::SBox7Gates3<G, Word>}, {7, 2, c::SBox8Gates2<G, Word>},
    {7, 3, c::SBox8Gates3<G, Word>},
};

// Input bit k (1..6) of every six-bit value, as a word.
Word InputWord(int k) {
  Word w = 0;
  for (int i = 0; i < 64; ++i) w |= Word((i >> (6 - k)) & 1) << i;
  return w;
}

// Output bit j (1 = most significant) of S-box `box` for every input, read
// from the table: row = b1b6, column = b2b3b4b5.
Word OutputWord(int box, int j) {
  Word w = 0;
  for (int i = 0; i < 64; ++i) {
    const int row = ((i >> 5) << 1) | (i & 1);
    const int column = (i >> 1) & 15;
    w |= Word((des::kSBoxes[box][row * 16 + column] >> (4 - j)) & 1) << i;
  }
  return w;
}

// Every network, on all 64 inputs, XORs the table's outputs into what the
// outputs held before, and evaluates as many gates as it declares.
TEST(SBoxCircuits, MatchTheTablesOnAllInputs) {
  // Zero, and words that differ per output so a swapped or overwritten
  // output shows.
  constexpr Word kStarts[][4] = {{0, 0, 0, 0},
                                 {0x0123456789ABCDEF, 0xF0E1D2C3B4A59687, ~Word{0}, 0x5A5A5A5AA5A5A5A5}};
  for (const Case &k : kCases) {
    SCOPED_TRACE(testing::Message() << "S" << k.box + 1 << " gates " << k.set);
    for (const auto &start : kStarts) {
      Word o[4] = {start[0], start[1], start[2], start[3]};
      G::calls = 0;
      k.network(InputWord(1), InputWord(2), InputWord(3), InputWord(4), InputWord(5), InputWord(6), o[0],
                o[1], o[2], o[3]);
      for (int j = 1; j <= 4; ++j) EXPECT_EQ(o[j - 1] ^ start[j - 1], OutputWord(k.box, j)) << "output " << j;
      const int declared = k.set == 2 ? c::kGates2[k.box] : c::kGates3[k.box];
      EXPECT_EQ(G::calls, declared);
    }
  }
}

}  // namespace
}  // namespace compatcrypt::test
