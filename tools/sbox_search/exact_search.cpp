#include "exact_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sbox_search {
namespace {

bool Trace() { return std::getenv("SBOX_TRACE") != nullptr; }

// Output j added to `net` with c new gates: the XOR into the output folds
// into the last gate when it reads two signals (cost c), else it is one
// more (cost c + 1); a signal already there costs the XOR alone. Costs
// from `limit` down are tried while the solver finds one; returns the
// cheapest found, or -1 with `net` unchanged if none.
int AddOutput(Netlist &net, int box, int j, int limit, const ExactParams &sat) {
  const TruthTable t = OutputTable(box, j);
  for (int i = 0; i < net.size; ++i)
    if (net.tt[i] == t || (net.tt[i] == ~t && sat.arity == 3)) {  // a complement is free in a LUT
      net.out[j] = 2 * i + (net.tt[i] != t);
      return 1;
    }
  int found = -1;
  Netlist best;
  for (int cost = limit; cost >= 1; --cost) {
    bool ok = false;
    for (const bool two : {true, false}) {
      if (two && sat.arity == 2) continue;  // two-input gates: the XOR never folds
      const int k = two ? cost : cost - 1;
      if (k < 1) continue;
      Netlist trial = net;
      const int lit = ExactExtend(trial, t, kAll, k, two, sat);
      if (Trace())
        std::fprintf(stderr, "  S%d output %d over %d signals: %d gates%s: %s\n", box + 1, j + 1, net.size, k,
                     two ? " (last two-input)" : "", lit == kNoLit ? "no" : "yes");
      if (lit == kNoLit) continue;
      trial.out[j] = lit;
      best = trial;
      found = cost;
      ok = true;
      break;
    }
    if (!ok) break;
  }
  if (found >= 0) net = best;
  return found;
}

// The cheapest found, counting up from cost 1: output j added with the
// fewest gates the solver finds (a call that reaches its conflict limit
// counts as none). Returns the cost, or -1 past max_cost.
int AddOutputFewest(Netlist &net, int box, int j, int max_cost, const ExactParams &sat) {
  const TruthTable t = OutputTable(box, j);
  for (int i = 0; i < net.size; ++i)
    if (net.tt[i] == t || (net.tt[i] == ~t && sat.arity == 3)) {  // a complement is free in a LUT
      net.out[j] = 2 * i + (net.tt[i] != t);
      return 1;
    }
  for (int cost = 1; cost <= max_cost; ++cost)
    for (const bool two : {true, false}) {
      if (two && sat.arity == 2) continue;  // two-input gates: the XOR never folds
      const int k = two ? cost : cost - 1;
      if (k < 1) continue;
      const int lit = ExactExtend(net, t, kAll, k, two, sat);
      if (Trace())
        std::fprintf(stderr, "  S%d output %d over %d signals: %d gates%s: %s\n", box + 1, j + 1, net.size, k,
                     two ? " (last two-input)" : "", lit == kNoLit ? "no" : "yes");
      if (lit != kNoLit) {
        net.out[j] = lit;
        return cost;
      }
    }
  return -1;
}

// Output literal values of `net` with signal g's truth table replaced by
// `value` (the gates after g recomputed).
std::array<TruthTable, kOutputs> OutputsWith(const Netlist &net, int g, TruthTable value) {
  std::array<TruthTable, kMaxSignals> tt = net.tt;
  tt[g] = value;
  for (int i = g + 1; i < net.size; ++i) tt[i] = Evaluate(net.gate[i], tt.data());
  std::array<TruthTable, kOutputs> out{};
  for (int j = 0; j < kOutputs; ++j) out[j] = tt[net.out[j] >> 1] ^ ((net.out[j] & 1) ? kAll : 0);
  return out;
}

// Gates only the gates in `cut` need (those left unused once they read
// nothing), counting the cut gates themselves.
int ConeSize(const Netlist &net, std::initializer_list<int> cut, std::array<bool, kMaxSignals> *live_out) {
  std::array<bool, kMaxSignals> live{};
  for (int lit : net.out) live[lit >> 1] = true;
  for (int i = net.size - 1; i >= kInputs; --i) {
    bool is_cut = false;
    for (int g : cut) is_cut |= g == i;
    if (live[i] && !is_cut)
      for (int k = 0; k < net.gate[i].arity; ++k) live[net.gate[i].in[k]] = true;
  }
  int cone = static_cast<int>(cut.size());
  int last = 0;
  for (int g : cut) last = std::max(last, g);
  for (int i = kInputs; i < last; ++i) {
    bool is_cut = false;
    for (int g : cut) is_cut |= g == i;
    cone += !live[i] && !is_cut;
  }
  if (live_out) *live_out = live;
  return cone;
}

// Gate g1 (and g2 unless it is -1) replaced, with the gates only they need,
// by fewer new gates that agree with each where its value reaches an output
// (the rows where flipping it changes one). The new gates may read any
// signal outside their fanout. Returns true, with `net` changed, if that
// made the network smaller.
bool RebuildGates(Netlist &net, int box, int g1, int g2, int max_gates, const ExactParams &sat) {
  const bool two = g2 >= 0;
  auto care_of = [&](int g) {
    const auto now = OutputsWith(net, g, net.tt[g]);
    const auto flipped = OutputsWith(net, g, ~net.tt[g]);
    TruthTable care = 0;
    for (int j = 0; j < kOutputs; ++j) care |= now[j] ^ flipped[j];
    return care;
  };
  const TruthTable care1 = care_of(g1), care2 = two ? care_of(g2) : 0;
  const int cone = two ? ConeSize(net, {g1, g2}, nullptr) : ConeSize(net, {g1}, nullptr);
  const int limit = std::min(cone - 1, max_gates);
  if (limit < (two ? 2 : 1)) return false;
  // The fanout, which must come after the new gates.
  std::array<bool, kMaxSignals> fanout{};
  fanout[g1] = true;
  if (two) fanout[g2] = true;
  for (int i = kInputs; i < net.size; ++i)
    for (int k = 0; k < net.gate[i].arity; ++k) {
      if (!fanout[net.gate[i].in[k]]) continue;
      if (i == g1 || i == g2) return false;  // one feeds the other
      fanout[i] = true;
    }
  // The base: every signal outside the fanout, in order (the cut gates'
  // cones included: what the new gates do not read falls away).
  Netlist base;
  std::array<int, kMaxSignals> index{};
  for (int v = 0; v < kInputs; ++v) {
    base.tt[v] = net.tt[v];
    index[v] = v;
  }
  for (int i = kInputs; i < net.size; ++i) {
    if (fanout[i]) continue;
    Gate q = net.gate[i];
    for (int k = 0; k < q.arity; ++k) q.in[k] = index[q.in[k]];
    index[i] = base.size;
    base.gate[base.size] = q;
    base.tt[base.size] = net.tt[i];
    ++base.size;
  }
  for (int k = two ? 2 : 1; k <= limit; ++k) {
    Netlist grown = base;
    int lit2 = kNoLit;
    const int lit = two ? ExactExtend2(grown, net.tt[g1], care1, net.tt[g2], care2, k, sat, lit2)
                        : ExactExtend(grown, net.tt[g1], care1, k, false, sat);
    if (lit == kNoLit) continue;
    index[g1] = lit >> 1;
    if (two) index[g2] = lit2 >> 1;
    for (int i = kInputs; i < net.size; ++i) {
      if (!fanout[i] || i == g1 || i == g2) continue;
      Gate q = net.gate[i];
      for (int m = 0; m < q.arity; ++m) q.in[m] = index[q.in[m]];
      index[i] = grown.size;
      grown.gate[grown.size] = q;
      grown.tt[grown.size] = Evaluate(q, grown.tt.data());
      ++grown.size;
    }
    for (int j = 0; j < kOutputs; ++j) grown.out[j] = 2 * index[net.out[j] >> 1] + (net.out[j] & 1);
    const Netlist candidate = Compact(grown);
    if (!Verify(candidate, box)) return false;
    const bool lut3 = sat.arity == 3;
    const Counts c = Count(candidate, lut3), o = Count(net, lut3);
    if (c.with_outputs < o.with_outputs || (c.with_outputs == o.with_outputs && c.gates < o.gates)) {
      if (Trace())
        std::fprintf(stderr, "S%d %s rebuilt (%d-input gates): %d -> %d\n", box + 1,
                     two ? "gate pair" : "gate", sat.arity, o.with_outputs, c.with_outputs);
      net = candidate;
      return true;
    }
    return false;
  }
  return false;
}

}  // namespace

bool ExactRebuildGates(int box, const ExactSearchParams &p, Netlist &net) {
  if (!Verify(net, box)) return false;
  for (bool changed = true; changed;) {
    changed = false;
    for (int g = net.size - 1; g >= kInputs; --g) {
      if (g >= net.size) continue;
      if (RebuildGates(net, box, g, -1, p.window, p.sat)) changed = true;
    }
    // Pairs of gates whose cones share gates that neither needs alone.
    for (int g1 = net.size - 1; g1 >= kInputs && !changed; --g1)
      for (int g2 = g1 - 1; g2 >= kInputs && !changed; --g2) {
        const int joint = ConeSize(net, {g1, g2}, nullptr);
        if (joint <= ConeSize(net, {g1}, nullptr) + ConeSize(net, {g2}, nullptr) || joint < 3) continue;
        if (RebuildGates(net, box, g1, g2, p.window, p.sat)) changed = true;
      }
  }
  return true;
}

bool ExactImprove(int box, const std::array<int, kOutputs> &order, const ExactSearchParams &p, Netlist &net) {
  if (!Verify(net, box)) return false;
  const bool lut3 = p.sat.arity == 3;
  for (int round = 0; round < p.improve_rounds; ++round) {
    bool changed = false;
    // Two outputs at a time: the network of the other two kept, the two
    // rebuilt on it one after the other, each with the fewest gates found,
    // within what the two cost now.
    for (int a = 0; a < kOutputs && p.pairs; ++a)
      for (int b = 0; b < kOutputs; ++b) {
        if (a == b) continue;
        const int j1 = order[a], j2 = order[b];
        int keep = 0;
        while (keep == j1 || keep == j2) ++keep;
        Netlist kept = net;
        kept.out[j1] = kept.out[keep];
        kept.out[j2] = kept.out[keep];
        kept = Compact(kept);
        const Counts o = Count(net, lut3);
        // What the two may cost together: the gates they alone need and
        // their XORs, less one.
        const int budget = (net.size - kept.size) + 2 - 1;
        const int c1 = AddOutputFewest(kept, box, j1, budget - 1, p.sat);
        if (c1 < 0) continue;
        if (AddOutputFewest(kept, box, j2, budget - c1, p.sat) < 0) continue;
        const Netlist candidate = Compact(kept);
        if (!Verify(candidate, box)) continue;
        const Counts c = Count(candidate, lut3);
        if (c.with_outputs < o.with_outputs || (c.with_outputs == o.with_outputs && c.gates < o.gates)) {
          if (Trace())
            std::fprintf(stderr, "S%d outputs %d, %d rebuilt: %d -> %d\n", box + 1, j1 + 1, j2 + 1,
                         o.with_outputs, c.with_outputs);
          net = candidate;
          changed = true;
        }
      }
    for (int j : order) {
      // The network without output j: its private gates fall away.
      Netlist others = net;
      others.out[j] = others.out[(j + 1) % kOutputs];
      others = Compact(others);
      const int private_cost =
          (net.size - others.size) + (lut3 && FoldsIntoOutput(net, UseCounts(net), net.out[j]) ? 0 : 1);
      if (private_cost < 2) continue;
      // What output j costs now, at most: its private gates and its XOR
      // (the others' XORs stay as they are, or fold better).
      if (AddOutput(others, box, j, private_cost - 1, p.sat) < 0) continue;
      const Netlist candidate = Compact(others);
      if (!Verify(candidate, box)) continue;
      const Counts c = Count(candidate, lut3), o = Count(net, lut3);
      if (c.with_outputs < o.with_outputs || (c.with_outputs == o.with_outputs && c.gates < o.gates)) {
        if (Trace())
          std::fprintf(stderr, "S%d output %d rebuilt: %d -> %d\n", box + 1, j + 1, o.with_outputs,
                       c.with_outputs);
        net = candidate;
        changed = true;
      }
    }
    if (!changed) break;
  }
  return true;
}

}  // namespace sbox_search
