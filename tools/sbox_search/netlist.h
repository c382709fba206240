// A gate network over the six S-box inputs, with every signal's truth table
// over the 64 input values kept next to it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sbox_search {

using TruthTable = uint64_t;
inline constexpr TruthTable kAll = ~TruthTable{0};
inline constexpr int kInputs = 6;
inline constexpr int kOutputs = 4;
inline constexpr int kMaxSignals = 240;

// A literal is a signal index times two plus a complement bit; the two
// constants have negative codes.
inline constexpr int kLit0 = -2;
inline constexpr int kLit1 = -1;
inline constexpr int kNoLit = -3;

// Gate inputs in[0..arity-1]; func bit ((in0 << (arity-1)) | ... | inLast)
// gives the output, so a three-input func reads like a vpternlog immediate.
struct Gate {
  int arity = 0;
  std::array<int, 3> in{};
  uint8_t func = 0;
};

struct Netlist {
  int size = kInputs;  // signals 0..5 are x1..x6
  std::array<TruthTable, kMaxSignals> tt{};
  std::array<Gate, kMaxSignals> gate{};
  std::array<int, kOutputs> out{};  // literals
};

// Truth table of input x1..x6 (index 0..5): input value i has b1 as bit 5.
constexpr TruthTable InputTable(int var) {
  TruthTable t = 0;
  for (int i = 0; i < 64; ++i)
    if ((i >> (5 - var)) & 1) t |= TruthTable{1} << i;
  return t;
}

// Output bit j (0 = o1, the most significant) of S-box `box` over the 64 inputs.
TruthTable OutputTable(int box, int j);

TruthTable Evaluate(const Gate &g, const TruthTable *tt);
inline TruthTable LitValue(const Netlist &net, int lit) {
  if (lit == kLit0) return 0;
  if (lit == kLit1) return kAll;
  return net.tt[lit >> 1] ^ ((lit & 1) ? kAll : 0);
}

// Recomputes every truth table from the gates and checks the outputs.
bool Verify(const Netlist &net, int box);

// Drops gates no output needs and renumbers the rest in order.
Netlist Compact(const Netlist &net);

// Number of gates feeding signal i (consumers of each signal).
std::array<int, kMaxSignals> UseCounts(const Netlist &net);

// Merges a gate into its only consumer while the merged gate has at most
// three distinct inputs, until nothing more merges.
Netlist FuseToLut3(const Netlist &net);

// Gate count for the emitted code: gates, plus the XOR into each output,
// minus the output XORs that fold into the output's last three-input gate.
struct Counts {
  int gates = 0;
  int with_outputs = 0;
};
Counts Count(const Netlist &net, bool lut3);
bool FoldsIntoOutput(const Netlist &net, const std::array<int, kMaxSignals> &uses, int lit);

}  // namespace sbox_search
