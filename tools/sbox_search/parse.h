// Reading back a header this tool wrote, so a later step can start from
// networks an earlier run found (and that run's command reproduces).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "emit.h"

namespace sbox_search {

// The sixteen networks of a header in EmitHeader's form; false, with a
// message in `error`, if a line is not one EmitHeader writes or a network
// fails the table check.
// `commands` receives the command lines the header names as having written
// it, in order; a header that names none was written by the default run.
bool ParseHeader(const std::string &text, std::array<BoxCircuits, 8> &boxes,
                 std::vector<std::string> &commands, std::string &error);

}  // namespace sbox_search
