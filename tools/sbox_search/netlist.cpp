#include "netlist.h"

#include <algorithm>
#include <vector>

#include "des/tables/des_tables.h"
#include "fit.h"

namespace sbox_search {

TruthTable OutputTable(int box, int j) {
  TruthTable t = 0;
  for (int i = 0; i < 64; ++i) {
    const int row = ((i >> 4) & 2) | (i & 1);  // b1 b6
    const int col = (i >> 1) & 15;             // b2 b3 b4 b5
    const int value = compatcrypt::des::kSBoxes[box][row * 16 + col];
    if ((value >> (3 - j)) & 1) t |= TruthTable{1} << i;
  }
  return t;
}

TruthTable Evaluate(const Gate &g, const TruthTable *tt) {
  TruthTable r = 0;
  for (int c = 0; c < (1 << g.arity); ++c) {
    if (!((g.func >> c) & 1)) continue;
    TruthTable term = kAll;
    for (int k = 0; k < g.arity; ++k) {
      const bool bit = (c >> (g.arity - 1 - k)) & 1;
      term &= bit ? tt[g.in[k]] : ~tt[g.in[k]];
    }
    r |= term;
  }
  return r;
}

bool Verify(const Netlist &net, int box) {
  std::array<TruthTable, kMaxSignals> tt{};
  for (int v = 0; v < kInputs; ++v) tt[v] = InputTable(v);
  for (int i = kInputs; i < net.size; ++i) {
    const Gate &g = net.gate[i];
    if (g.arity < 1 || g.arity > 3) return false;
    for (int k = 0; k < g.arity; ++k)
      if (g.in[k] < 0 || g.in[k] >= i) return false;
    tt[i] = Evaluate(g, tt.data());
  }
  for (int j = 0; j < kOutputs; ++j) {
    const int lit = net.out[j];
    if (lit < 0 || (lit >> 1) >= net.size) return false;
    if ((tt[lit >> 1] ^ ((lit & 1) ? kAll : 0)) != OutputTable(box, j)) return false;
  }
  return true;
}

std::array<int, kMaxSignals> UseCounts(const Netlist &net) {
  std::array<int, kMaxSignals> uses{};
  for (int i = kInputs; i < net.size; ++i)
    for (int k = 0; k < net.gate[i].arity; ++k) ++uses[net.gate[i].in[k]];
  return uses;
}

Netlist Compact(const Netlist &net) {
  std::array<bool, kMaxSignals> live{};
  for (int lit : net.out) live[lit >> 1] = true;
  for (int i = net.size - 1; i >= kInputs; --i)
    if (live[i])
      for (int k = 0; k < net.gate[i].arity; ++k) live[net.gate[i].in[k]] = true;
  std::array<int, kMaxSignals> index{};
  Netlist r;
  for (int v = 0; v < kInputs; ++v) {
    index[v] = v;
    r.tt[v] = net.tt[v];
  }
  for (int i = kInputs; i < net.size; ++i) {
    if (!live[i]) continue;
    Gate g = net.gate[i];
    for (int k = 0; k < g.arity; ++k) g.in[k] = index[g.in[k]];
    index[i] = r.size;
    r.gate[r.size] = g;
    r.tt[r.size] = net.tt[i];
    ++r.size;
  }
  for (int j = 0; j < kOutputs; ++j) r.out[j] = index[net.out[j] >> 1] * 2 + (net.out[j] & 1);
  return r;
}

Netlist FuseToLut3(const Netlist &input) {
  Netlist net = Compact(input);
  for (bool changed = true; changed;) {
    changed = false;
    auto uses = UseCounts(net);
    for (int lit : net.out) uses[lit >> 1] += 100;  // outputs stay
    for (int c = kInputs; c < net.size; ++c) {
      Gate &gc = net.gate[c];
      for (int k = 0; k < gc.arity; ++k) {
        const int g = gc.in[k];
        if (g < kInputs || uses[g] != 1) continue;
        std::vector<int> merged;
        for (int q = 0; q < gc.arity; ++q)
          if (q != k) merged.push_back(gc.in[q]);
        for (int q = 0; q < net.gate[g].arity; ++q) merged.push_back(net.gate[g].in[q]);
        std::sort(merged.begin(), merged.end());
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        if (merged.size() > 3) continue;
        const Fit fit =
            FitFunction(net.tt.data(), merged.data(), static_cast<int>(merged.size()), net.tt[c], kAll);
        if (!fit.ok || fit.arity < 1) continue;
        for (int q = 0; q < gc.arity; ++q) --uses[gc.in[q]];
        gc = fit.ToGate(0);
        for (int q = 0; q < gc.arity; ++q) ++uses[gc.in[q]];
        changed = true;
        break;
      }
    }
    net = Compact(net);
  }
  return net;
}

bool FoldsIntoOutput(const Netlist &net, const std::array<int, kMaxSignals> &uses, int lit) {
  const int s = lit >> 1;
  if (s < kInputs || uses[s] != 0 || net.gate[s].arity > 2) return false;
  int outputs = 0;
  for (int o : net.out) outputs += (o >> 1) == s;
  return outputs == 1;
}

Counts Count(const Netlist &net, bool lut3) {
  Counts c;
  c.gates = net.size - kInputs;
  c.with_outputs = c.gates + kOutputs;
  if (lut3) {
    const auto uses = UseCounts(net);
    for (int lit : net.out) c.with_outputs -= FoldsIntoOutput(net, uses, lit);
  }
  return c;
}

}  // namespace sbox_search
