// Finished networks made smaller by exact steps: gates and outputs rebuilt
// with the fewest new gates a SAT solver finds (exact.h).
#pragma once

#include <array>
#include <cstdint>

#include "exact.h"
#include "netlist.h"

namespace sbox_search {

struct ExactSearchParams {
  ExactParams sat;
  int improve_rounds = 2;  // rounds of rebuilding each output over the others
  bool pairs = true;       // also rebuild two outputs at a time
  int window = 4;          // new gates per gate rebuilt, at most (ExactRebuildGates)
};

// Each gate, with the gates only it needs, rebuilt as fewer gates over
// the signals outside its fanout, matching it only where its value reaches
// an output; then pairs of gates whose cones share gates neither needs
// alone, together; repeated until nothing gives. The network never grows. With
// p.sat.arity 2 the network and the new gates are of the two-input set.
bool ExactRebuildGates(int box, const ExactSearchParams &p, Netlist &net);

// Each output (and with p.pairs, each two outputs) rebuilt in turn (in
// `order`) over the gates the others need, with fewer gates than it has
// privately, while the solver finds such; the network never grows. False if `net` fails the table check.
bool ExactImprove(int box, const std::array<int, kOutputs> &order, const ExactSearchParams &p, Netlist &net);

}  // namespace sbox_search
