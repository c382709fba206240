// Exact synthesis by a SAT solver: new gates (three-input, or the two-input
// set), on top of a network's signals, that compute a target where it is
// cared about.
#pragma once

#include <cstdint>
#include <string>

#include "netlist.h"

namespace sbox_search {

struct ExactParams {
  std::string solver = "cadical";  // a DIMACS solver printing "v" lines
  long conflicts = 200000;         // per call; past it the answer counts as "no"
  uint64_t seed = 0;               // the solver's seed
  int arity = 3;                   // 3: any three-input gate; 2: And, Or, Xor, AndNot
};

// Appends `k` new gates to `net` whose last equals t on the care set m
// (the others feed it); `last_two` asks the last to read two signals, so the
// XOR into an output folds into it. Returns the last gate's literal, or
// kNoLit (nothing appended) when the solver proves there is none or gives
// up at its conflict limit.
int ExactExtend(Netlist &net, TruthTable t, TruthTable m, int k, bool last_two, const ExactParams &p);

// The same with two targets: the last gate equals t on m and some new gate,
// whose literal goes to lit2, equals t2 on m2 (m2 nonzero).
int ExactExtend2(Netlist &net, TruthTable t, TruthTable m, TruthTable t2, TruthTable m2, int k,
                 const ExactParams &p, int &lit2);

}  // namespace sbox_search
