// Writes the chosen networks as the header src/des/tables/sbox_circuits.h.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "netlist.h"

namespace sbox_search {

struct BoxCircuits {
  Netlist gates2;  // And/Or/Xor/AndNot/Not
  Netlist gates3;  // three-input LUTs and the two-input gates
  // Function bodies as read from an earlier header (ParseHeader), written
  // back unchanged while the network is; empty: written from the network.
  std::string body2, body3;
};

// `commands`: the command lines that wrote it, in turn (each one's output
// the next one's --start), named in its comment.
std::string EmitHeader(const std::array<BoxCircuits, 8> &boxes, const std::vector<std::string> &commands);

}  // namespace sbox_search
