// Fitting a gate to a partly specified function of given signals.
#pragma once

#include "netlist.h"

namespace sbox_search {

// The function of `count` signals that matches target t on the care set m,
// reduced to the inputs it needs. value/known hold, for each input
// combination, the required output bit and whether it is required at all.
struct Fit {
  bool ok = false;
  int arity = 0;
  int in[3] = {0, 0, 0};
  uint8_t value = 0;
  uint8_t known = 0;

  // The gate with the free combinations set from `fill`.
  Gate ToGate(uint8_t fill) const {
    Gate g;
    g.arity = arity;
    for (int k = 0; k < arity; ++k) g.in[k] = in[k];
    const uint8_t mask = static_cast<uint8_t>((1u << (1 << arity)) - 1);
    g.func = static_cast<uint8_t>(((value & known) | (fill & ~known)) & mask);
    return g;
  }
};

Fit FitFunction(const TruthTable *tt, const int *signals, int count, TruthTable t, TruthTable m);

}  // namespace sbox_search
