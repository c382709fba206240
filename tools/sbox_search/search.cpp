#include "search.h"

#include <algorithm>
#include <vector>

#include "fit.h"

namespace sbox_search {
namespace {

// Ways to split target t on a selector s (an input bit unless noted); each
// half is solved with the other half as don't-care.
enum Kind {
  kMux,            // three-input: LUT(s, t where s = 0, t where s = 1)
  kConstSide,      // t constant on one side of s: one gate with the other half
  kXorForm,        // t = ga ^ (s & h)
  kOrForm,         // t = ga | (s & h)
  kAndForm,        // ~t = ga | (s & h)
  kSplitOnSignal,  // kConstSide on a built signal
  kPair,           // t = LUT(a, b, h) on built a, b
  kXorSplit,       // t = a ^ h on a built a
};

int Complement(int lit) {
  if (lit == kLit0) return kLit1;
  if (lit == kLit1) return kLit0;
  return lit ^ 1;
}

bool Constant(TruthTable t, TruthTable m) { return (t & m) == 0 || (t & m) == m; }

}  // namespace

int Searcher::Find0(TruthTable t, TruthTable m) const {
  if ((t & m) == 0) return kLit0;
  if ((t & m) == m) return kLit1;
  for (int i = 0; i < net_.size; ++i) {
    const TruthTable d = (net_.tt[i] ^ t) & m;
    if (d == 0) return 2 * i;
    if (d == m) return 2 * i + 1;
  }
  return kNoLit;
}

int Searcher::Find1(TruthTable t, TruthTable m) {
  const TruthTable *tt = net_.tt.data();
  const int n = net_.size;
  auto consistent = [t](TruthTable r) { return (t & r) == 0 || (t & r) == r; };
  for (int a = 0; a < n; ++a) {
    const TruthTable a1 = m & tt[a], a0 = m & ~tt[a];
    for (int b = a + 1; b < n; ++b) {
      const TruthTable r[4] = {a0 & ~tt[b], a0 & tt[b], a1 & ~tt[b], a1 & tt[b]};
      if (p_.arity == 2) {
        if (consistent(r[0]) && consistent(r[1]) && consistent(r[2]) && consistent(r[3]))
          return Build({2 * a, 2 * b}, t, m);
        continue;
      }
      for (int c = b + 1; c < n; ++c) {
        const TruthTable c1 = tt[c];
        bool ok = true;
        for (int q = 0; q < 4 && ok; ++q) ok = consistent(r[q] & c1) && consistent(r[q] & ~c1);
        if (ok) return Build({2 * a, 2 * b, 2 * c}, t, m);
      }
    }
  }
  return kNoLit;
}

int Searcher::Place(const Gate &g) {
  const TruthTable v = Evaluate(g, net_.tt.data());
  for (int i = 0; i < net_.size; ++i) {
    if (net_.tt[i] == v) return 2 * i;
    if (net_.tt[i] == ~v && g.arity > 1) return 2 * i + 1;
  }
  if (net_.size >= kMaxSignals) return kNoLit;
  net_.gate[net_.size] = g;
  net_.tt[net_.size] = v;
  return 2 * net_.size++;
}

int Searcher::Build(std::initializer_list<int> lits, TruthTable t, TruthTable m) {
  int signals[3];
  int count = 0;
  for (int lit : lits) {
    if (lit == kNoLit) return kNoLit;
    if (lit >= 0) signals[count++] = lit >> 1;
  }
  const Fit fit = FitFunction(net_.tt.data(), signals, count, t, m);
  if (!fit.ok) return kNoLit;
  if (fit.arity == 0) return (fit.value & fit.known & 1) ? kLit1 : kLit0;
  if (fit.arity == 1) return fit.value == 2 ? 2 * fit.in[0] : 2 * fit.in[0] + 1;
  if (fit.arity == 2) {
    // A two-input gate with f(0,0) = 0 is And, Or, Xor or AndNot; the
    // complement of the others is free, as every consumer absorbs it.
    std::vector<int> funcs;
    for (int f = 0; f < 16; ++f) {
      if ((f ^ fit.value) & fit.known) continue;
      if (f == 0 || f == 15 || f == 0xC || f == 0x3 || f == 0xA || f == 0x5) continue;
      funcs.push_back(f);
    }
    if (funcs.empty()) return kNoLit;
    const int f = funcs[rng_() % funcs.size()];
    Gate g = fit.ToGate(static_cast<uint8_t>(f));
    const bool negate = f & 1;
    if (negate) g.func = static_cast<uint8_t>(~f & 15);
    const int lit = Place(g);
    return negate ? Complement(lit) : lit;
  }
  return Place(fit.ToGate(static_cast<uint8_t>(rng_())));
}

Searcher::Result Searcher::Option(const Choice &c, TruthTable t, TruthTable m, unsigned free_vars, int depth,
                                  int budget) {
  const int kind = c.kind, var = c.var, side = c.side;
  const int snap = net_.size;
  const TruthTable s = net_.tt[var];
  const TruthTable sa = side ? s : ~s, sb = ~sa;  // first-solved side, other side
  const TruthTable ma = m & sa, mb = m & sb;
  const unsigned rest = var < kInputs ? free_vars & ~(1u << var) : free_vars;
  Result fail;
  int lit = kNoLit;
  switch (kind) {
    case kPair: {
      // t = LUT(a, b, h): h is t or its complement where (a, b) leave t open.
      const Result h =
          Solve(t ^ c.flip, c.care, free_vars, depth + 1, c.cheap ? std::min(budget - 1, 1) : budget - 1);
      if (h.lit == kNoLit) return fail;
      lit = Build({2 * var, 2 * c.var2, h.lit}, t, m);
      break;
    }
    case kXorSplit: {
      // t = a ^ h
      const Result h = Solve(t ^ s, m, free_vars, depth + 1, c.cheap ? std::min(budget - 1, 1) : budget - 1);
      if (h.lit == kNoLit) return fail;
      lit = Build({2 * var, h.lit}, t, m);
      break;
    }
    case kMux: {
      const Result ra = Solve(t, ma, rest, depth + 1, budget - 1);
      if (ra.lit == kNoLit) return fail;
      const Result rb = Solve(t, mb, rest, depth + 1, budget - 1 - ra.cost);
      if (rb.lit == kNoLit) return fail;
      lit = Build({2 * var, ra.lit, rb.lit}, t, m);
      break;
    }
    case kConstSide:
    case kSplitOnSignal: {
      // t is constant where the selector is on side a.
      const Result rb = Solve(t, mb, rest, depth + 1, budget - 1);
      if (rb.lit == kNoLit) return fail;
      lit = Build({2 * var, rb.lit}, t, m);
      break;
    }
    case kXorForm: {
      // t = ga ^ (sb & h)
      const Result ga = Solve(t, ma, rest, depth + 1, budget - 2);
      if (ga.lit == kNoLit) return fail;
      const TruthTable va = LitValue(net_, ga.lit);
      const Result h = Solve(t ^ va, mb, rest, depth + 1, budget - 2 - ga.cost);
      if (h.lit == kNoLit) return fail;
      const int u = Build({2 * var, h.lit}, sb & LitValue(net_, h.lit), kAll);
      lit = Build({ga.lit, u}, t, m);
      break;
    }
    case kOrForm:
    case kAndForm: {
      // tp = ga | (sb & h), with ga free to be 1 where tp is 1 on side b.
      const TruthTable tp = kind == kOrForm ? t : ~t;
      const Result ga = Solve(tp, ma | (mb & ~tp), free_vars, depth + 1, budget - 2);
      if (ga.lit == kNoLit) return fail;
      const TruthTable va = LitValue(net_, ga.lit);
      const Result h = Solve(tp, mb & ~va, rest, depth + 1, budget - 2 - ga.cost);
      if (h.lit == kNoLit) return fail;
      const int u = Build({2 * var, h.lit}, sb & LitValue(net_, h.lit), kAll);
      lit = Build({ga.lit, u}, tp, m);
      if (kind == kAndForm && lit != kNoLit) lit = Complement(lit);
      break;
    }
  }
  Result r;
  r.lit = lit;
  r.cost = net_.size - snap;
  if (lit == kNoLit || r.cost > budget) return fail;
  return r;
}

// t = LUT(a, b, h) for built signals a, b (or just a) and a new h: in each
// of the four regions (a, b) split the care set into, t is constant or h
// decides it, directly or complemented.
void Searcher::AddPairs(TruthTable t, TruthTable m, int depth, std::vector<Choice> &choices) {
  const size_t first = choices.size();
  for (int a = 0; a < net_.size; ++a) {
    for (int b = a; b < net_.size; ++b) {  // b == a: t = op(a, h), foldable at the top
      const TruthTable r[4] = {m & ~net_.tt[a] & ~net_.tt[b], m & ~net_.tt[a] & net_.tt[b],
                               m & net_.tt[a] & ~net_.tt[b], m & net_.tt[a] & net_.tt[b]};
      TruthTable open[4];
      int n = 0;
      for (const TruthTable q : r)
        if (!Constant(t, q)) open[n++] = q;
      if (n == 0) continue;
      TruthTable care = 0;
      for (int i = 0; i < n; ++i) care |= open[i];
      for (int pol = 0; pol < (1 << (n - 1)); ++pol) {
        Choice c{kPair, a, 0};
        c.var2 = b;
        c.care = care;
        for (int i = 1; i < n; ++i)
          if ((pol >> (i - 1)) & 1) c.flip |= open[i];
        if (care != m || c.flip != 0) choices.push_back(c);
      }
    }
  }
  // The fewer points h must match, the likelier it is cheap: keep the
  // pair_limit smallest care sets.
  std::shuffle(choices.begin() + static_cast<long>(first), choices.end(), rng_);
  // At the top, t = op(a, h) comes first: its XOR into the output folds.
  std::stable_sort(choices.begin() + static_cast<long>(first), choices.end(),
                   [depth](const Choice &x, const Choice &y) {
                     const bool fx = depth == 0 && x.var == x.var2, fy = depth == 0 && y.var == y.var2;
                     if (fx != fy) return fx;
                     return __builtin_popcountll(x.care) < __builtin_popcountll(y.care);
                   });
  const size_t folds =
      static_cast<size_t>(std::count_if(choices.begin() + static_cast<long>(first), choices.end(),
                                        [depth](const Choice &x) { return depth == 0 && x.var == x.var2; }));
  const size_t limit = folds + static_cast<size_t>(p_.pair_limit);
  // Near the top the rest are tried too, with h one gate at most.
  if (depth >= p_.cheap_depth && choices.size() - first > limit) choices.resize(first + limit);
  for (size_t i = first + limit; i < choices.size(); ++i) choices[i].cheap = true;
}

// t = a ^ h for a built signal a that leaves t open on both of its sides;
// the signals closest to t or its complement first.
void Searcher::AddXorSplits(TruthTable t, TruthTable m, int depth, std::vector<Choice> &choices) {
  const size_t first = choices.size();
  std::vector<std::pair<int, int>> scored;
  const int all = __builtin_popcountll(m);
  for (int a = 0; a < net_.size; ++a) {
    const TruthTable s = net_.tt[a];
    if (Constant(t, m & s) || Constant(t, m & ~s)) continue;
    const int d = __builtin_popcountll((t ^ s) & m);
    scored.push_back({std::min(d, all - d) * 1024 + static_cast<int>(rng_() & 1023), a});
  }
  std::sort(scored.begin(), scored.end());
  for (const auto &[score, a] : scored) {
    const bool cheap = choices.size() - first >= static_cast<size_t>(p_.pair_limit);
    if (cheap && depth >= p_.cheap_depth) break;
    Choice c{kXorSplit, a, 0};
    c.cheap = cheap;
    choices.push_back(c);
  }
}

Searcher::Result Searcher::Solve(TruthTable t, TruthTable m, unsigned free_vars, int depth, int budget) {
  ++nodes_;
  Result r;
  if (budget < 0) return r;
  if ((r.lit = Find0(t, m)) != kNoLit) return r;
  if (budget < 1) return r;
  const int snap = net_.size;
  if ((r.lit = Find1(t, m)) != kNoLit) {
    r.cost = net_.size - snap;
    return r;
  }
  if (budget < 2 || depth >= p_.max_depth) return r;

  std::vector<Choice> choices;
  for (int v = 0; v < kInputs; ++v) {
    if (!((free_vars >> v) & 1)) continue;
    const TruthTable s = net_.tt[v];
    if ((m & s) == 0 || (m & ~s) == 0) continue;
    for (int side = 0; side < 2; ++side) {
      const TruthTable ma = m & (side ? s : ~s), mb = m & (side ? ~s : s);
      if (p_.arity == 3) {
        choices.push_back({kMux, v, side});
        continue;
      }
      if (Constant(t, ma)) {
        choices.push_back({kConstSide, v, side});
        continue;
      }
      if (Constant(t, mb)) continue;
      choices.push_back({kXorForm, v, side});
      choices.push_back({kOrForm, v, side});
      choices.push_back({kAndForm, v, side});
    }
  }
  if (p_.arity == 2) {
    for (int a = kInputs; a < net_.size; ++a) {
      const TruthTable s = net_.tt[a];
      for (int side = 0; side < 2; ++side) {
        const TruthTable ma = m & (side ? s : ~s), mb = m & (side ? ~s : s);
        if (ma != 0 && mb != 0 && Constant(t, ma)) choices.push_back({kSplitOnSignal, a, side});
      }
    }
  }
  std::shuffle(choices.begin(), choices.end(), rng_);
  if (p_.arity == 3 && depth < std::max(p_.pair_depth, p_.cheap_depth)) AddPairs(t, m, depth, choices);
  if (p_.arity == 2 && depth < std::max(p_.pair_depth, p_.cheap_depth)) AddXorSplits(t, m, depth, choices);

  // Levels above exhaustive_depth try every choice in full. Below, each
  // choice is first estimated by a rollout (every deeper level takes its
  // first solution); the best estimate is then solved in full.
  const bool exhaustive = !rollout_ && depth < p_.exhaustive_depth && nodes_ <= p_.node_limit;
  const bool pilot = !rollout_ && !exhaustive;
  // At the top, count what the XOR into the output will cost: a Not for a
  // complemented two-input result; for three-input gates, the XOR unless it
  // folds into a new gate of at most two inputs.
  auto penalty = [&](int lit) {
    if (depth > 0) return 0;
    if (p_.arity == 2) return lit & 1;
    const int s = lit >> 1;
    return (s >= snap && net_.gate[s].arity <= 2) ? 0 : 1;
  };
  Result best;
  int best_total = budget + 1;
  const Choice *best_choice = nullptr;
  std::vector<Gate> gates;
  std::vector<TruthTable> tts;
  auto keep = [&](const Result &o, const Choice *c) {
    if (o.lit == kNoLit || o.cost + penalty(o.lit) >= best_total) return false;
    best = o;
    best_total = o.cost + penalty(o.lit);
    best_choice = c;
    gates.assign(net_.gate.begin() + snap, net_.gate.begin() + net_.size);
    tts.assign(net_.tt.begin() + snap, net_.tt.begin() + net_.size);
    return true;
  };
  if (pilot) rollout_ = true;
  for (const Choice &c : choices) {
    keep(Option(c, t, m, free_vars, depth, best_total - 1), &c);
    net_.size = snap;
    if (best.lit != kNoLit && (rollout_ && !pilot)) break;
    if (best_total <= 1) break;
  }
  if (pilot) {
    rollout_ = false;
    if (best_choice) {
      keep(Option(*best_choice, t, m, free_vars, depth, best_total - 1), best_choice);
      net_.size = snap;
    }
  }
  if (best.lit == kNoLit) return Result{};
  for (size_t i = 0; i < gates.size(); ++i) {
    net_.gate[snap + i] = gates[i];
    net_.tt[snap + i] = tts[i];
  }
  net_.size = snap + static_cast<int>(gates.size());
  return best;
}

bool Searcher::SolveOutput(int box, int j, int budget) {
  nodes_ = 0;
  const TruthTable t = OutputTable(box, j);
  Result r = Solve(t, kAll, (1u << kInputs) - 1, 0, std::min(budget, kMaxSignals - net_.size - 2));
  if (r.lit == kNoLit) return false;
  if ((r.lit & 1) && p_.arity == 2) {
    // The XOR into the output needs the true value.
    Gate g;
    g.arity = 1;
    g.in[0] = r.lit >> 1;
    g.func = 1;
    if (net_.size >= kMaxSignals) return false;
    net_.gate[net_.size] = g;
    net_.tt[net_.size] = t;
    r.lit = 2 * net_.size++;
  }
  net_.out[j] = r.lit;
  return true;
}

bool Searcher::Run(int box, const std::array<int, kOutputs> &order, Netlist &net) {
  net_ = Netlist{};
  for (int v = 0; v < kInputs; ++v) net_.tt[v] = InputTable(v);
  if (!p_.greedy_order) {
    for (int j : order)
      if (!SolveOutput(box, j, kMaxSignals)) return false;
    net = Compact(net_);
    return true;
  }
  // Each step builds every remaining output and keeps the cheapest.
  std::array<bool, kOutputs> done{};
  for (int step = 0; step < kOutputs; ++step) {
    const Netlist base = net_;
    Netlist best;
    int best_j = -1, best_cost = 0;
    for (int j : order) {
      if (done[j]) continue;
      net_ = base;
      if (!SolveOutput(box, j, kMaxSignals)) return false;
      const int uses_fold =
          p_.arity == 3 && net_.out[j] >= 2 * base.size && net_.gate[net_.out[j] >> 1].arity <= 2;
      // Gates and output XOR count double; ties go to a true-valued result.
      const int cost = 2 * (net_.size - base.size) + (uses_fold ? 0 : 2) + ((net_.out[j] & 1) ? 1 : 0);
      if (best_j < 0 || cost < best_cost) {
        best = net_;
        best_j = j;
        best_cost = cost;
      }
    }
    net_ = best;
    done[best_j] = true;
  }
  net = Compact(net_);
  return true;
}

// Rebuilds one output at a time on the gates the other three need, which
// include gates built after it; keeps the result unless it is larger.
void Searcher::Improve(int box, int rounds, Netlist &net) {
  const bool lut3 = p_.arity == 3;
  for (int round = 0; round < rounds; ++round) {
    for (int j = 0; j < kOutputs; ++j) {
      Netlist others = net;
      others.out[j] = others.out[(j + 1) % kOutputs];
      net_ = Compact(others);
      const int removed = net.size - net_.size;
      if (!SolveOutput(box, j, removed + 1)) continue;
      const Netlist candidate = Compact(net_);
      const Counts c = Count(candidate, lut3), old = Count(net, lut3);
      if (c.with_outputs < old.with_outputs || (c.with_outputs == old.with_outputs && c.gates <= old.gates))
        net = candidate;
    }
  }
}

}  // namespace sbox_search
