// The one place that chooses how digest blocks are run: the table of
// engines this build holds (support/engine_table.h) and the route that
// sends a run of blocks to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "digest_core/digest_engine.h"

namespace compatcrypt::digest_core {

struct DigestEngine {
  const char *name;
  DigestBlocksFunction blocks;
  std::size_t lanes;  // blocks a group takes; a partly filled group costs a full one
  // Costs the same per block at any count: takes the short rest after a
  // wide engine's whole groups.
  bool takesShortRuns;
};

// The engines this build holds whose instructions this CPU runs, in the
// dispatch table's order (portable first).
std::span<const DigestEngine *const> AvailableDigestEngines();

// The engine that takes the bulk of a run.
const DigestEngine &ActiveDigestEngine();

// The engine that takes a short rest after the bulk engine's whole passes;
// null when the bulk engine takes every block.
const DigestEngine *ShortRunDigestEngine();

// Tests and benchmarks: runs every block on `name` alone (no routing of
// short runs elsewhere), or with an empty name goes back to the default.
// False if `name` is not available.
bool UseDigestEngine(std::string_view name);

// Adds `count` blocks to `sums` along the current route.
void DigestBlocks(const uint8_t *blocks, std::size_t count, uint32_t sums[5]);

}  // namespace compatcrypt::digest_core
