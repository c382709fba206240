// The one place that picks the digest engine: the first time a digest runs,
// the fastest engine the CPU supports is chosen and kept.
#include <array>
#include <atomic>

#include "digest/digest_engine.h"

namespace compatcrypt::digest_core {

namespace {

struct Candidate {
  DigestEngine engine;
  bool (*supported)();
};

bool Always() { return true; }

// Slowest first; the last supported one becomes the default.
constexpr std::array kCandidates = {
    Candidate{{"portable", DigestBlocksPortable}, Always},
};

struct EngineList {
  std::array<DigestEngine, kCandidates.size()> engines{};
  std::size_t count = 0;
};

const EngineList &Engines() {
  static const EngineList list = [] {
    EngineList probed;
    for (const Candidate &candidate : kCandidates)
      if (candidate.supported()) probed.engines[probed.count++] = candidate.engine;
    return probed;
  }();
  return list;
}

std::atomic<const DigestEngine *> &ActiveSlot() {
  static std::atomic<const DigestEngine *> active{&Engines().engines[Engines().count - 1]};
  return active;
}

}  // namespace

std::span<const DigestEngine> AvailableDigestEngines() {
  return {Engines().engines.data(), Engines().count};
}

const DigestEngine &ActiveDigestEngine() { return *ActiveSlot().load(std::memory_order_relaxed); }

bool UseDigestEngine(std::string_view name) {
  for (const DigestEngine &engine : AvailableDigestEngines()) {
    if (engine.name == name) {
      ActiveSlot().store(&engine, std::memory_order_relaxed);
      return true;
    }
  }
  return false;
}

void DigestBlocks(const unsigned char *blocks, std::size_t count, DigestSums &sums) {
  ActiveDigestEngine().blocks(blocks, count, sums);
}

}  // namespace compatcrypt::digest_core
