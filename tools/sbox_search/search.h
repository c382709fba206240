// Recursive decomposition search for a shared gate network of one S-box.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "netlist.h"

namespace sbox_search {

struct SearchParams {
  int arity = 2;             // 2: And/Or/Xor/AndNot/Not; 3: three-input LUTs
  int exhaustive_depth = 1;  // levels that solve every choice in full
  int max_depth = 8;
  int pair_depth = 0;           // levels with LUT(a, b, h) (three-input) or a ^ h (two-input) on built a, b
  int pair_limit = 15;          // how many of those get a full search for h
  int cheap_depth = 1;          // levels that also try all the others, with h one gate at most
  bool greedy_order = false;    // build next whichever remaining output is cheapest
  long node_limit = 100000000;  // per output; past it every level is estimated by rollouts
};

class Searcher {
 public:
  Searcher(const SearchParams &params, uint64_t seed) : p_(params), rng_(seed) {}

  // Builds the four outputs in `order`; false if the network outgrew kMaxSignals.
  bool Run(int box, const std::array<int, kOutputs> &order, Netlist &net);
  // Local search on a finished network: each output rebuilt in turn.
  void Improve(int box, int rounds, Netlist &net);

 private:
  struct Result {
    int lit = kNoLit;
    int cost = 0;
  };

  bool SolveOutput(int box, int j, int budget);
  int Find0(TruthTable t, TruthTable m) const;
  int Find1(TruthTable t, TruthTable m);
  int Build(std::initializer_list<int> lits, TruthTable t, TruthTable m);
  int Place(const Gate &g);
  Result Solve(TruthTable t, TruthTable m, unsigned free_vars, int depth, int budget);
  struct Choice {
    int kind;
    int var;
    int side;
    int var2 = 0;
    TruthTable flip = 0;  // kPair: where the new input is the complement of t
    TruthTable care = 0;  // kPair: where the new input is needed
    bool cheap = false;   // the new input must be one gate at most
  };
  void AddXorSplits(TruthTable t, TruthTable m, int depth, std::vector<Choice> &choices);
  void AddPairs(TruthTable t, TruthTable m, int depth, std::vector<Choice> &choices);
  Result Option(const Choice &c, TruthTable t, TruthTable m, unsigned free_vars, int depth, int budget);

  SearchParams p_;
  std::mt19937_64 rng_;
  Netlist net_;
  long nodes_ = 0;
  bool rollout_ = false;
};

}  // namespace sbox_search
