// Writes the chosen networks as the header src/des/tables/sbox_circuits.h.
#pragma once

#include <array>
#include <string>

#include "netlist.h"

namespace sbox_search {

struct BoxCircuits {
  Netlist gates2;  // And/Or/Xor/AndNot/Not
  Netlist gates3;  // three-input LUTs and the two-input gates
};

std::string EmitHeader(const std::array<BoxCircuits, 8> &boxes);

}  // namespace sbox_search
