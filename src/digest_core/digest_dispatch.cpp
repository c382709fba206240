#include "digest_core/digest_dispatch.h"

#include <atomic>

#include "digest_core/digest_constants.h"
#include "support/engine_table.h"

namespace compatcrypt::digest_core {

namespace {

// Measured on one core each, in GB/s at 1 MiB:
//   Xeon (AVX-512, AMX)    portable 0.2, SHA-NI 1.7, AVX2 3.1, AVX-512 6.4
//   AMD Zen 5 (EPYC)       SHA-NI 4.5, AVX2 3.6, AVX-512 9.3
// AVX-512 leads wherever it runs; SHA-NI and AVX2 trade places between
// machines, so they share a tier and a trial decides where both run.
// Re-measure with
//   build/bench/compatcrypt_bench --benchmark_filter='digest_engine/'
//
// Short runs. A wide engine runs groups of `lanes` blocks, two groups in
// flight, and a partly filled group costs a full one. Measured on the
// Xeon, in ns for a run of n blocks through one engine alone:
//   n          1    4    5    8   16   17   20   32
//   SHA-NI    35  137  172  282  568  576  681 1084
//   AVX2     168  169  170  169  358  487  477  618
//   AVX-512  166  167  166  167  167  293  290  306
// SHA-NI costs about 35 ns a block at any count, one wide group about five
// of those, and a second group in flight about four more. So SHA-NI is
// marked to take short runs: a rest of fewer than kShortRun blocks after
// whole groups (a short message's one or two closing blocks among them)
// goes to it where the CPU has it; any other rest stays with the bulk
// engine, which runs it as one group or two. Re-measure with the filter
// 'digest_run/' (runs of 1 to 33 and 64 blocks).
constexpr std::size_t kShortRun = 5;

constexpr DigestEngine kPortable = {"portable", DigestBlocksPortable, 1, false};
#if COMPATCRYPT_ENGINE_SHANI
constexpr DigestEngine kShani = {"shani", DigestBlocksShani, 1, true};
#endif
#if COMPATCRYPT_ENGINE_AVX2
constexpr DigestEngine kAvx2 = {"avx2", DigestBlocksAvx2, 8, false};
#endif
#if COMPATCRYPT_ENGINE_AVX512
constexpr DigestEngine kAvx512 = {"avx512", DigestBlocksAvx512, 16, false};
#endif

constexpr EngineEntry<DigestEngine> kTable[] = {
    {&kPortable, kRunsEverywhere, 0},
#if COMPATCRYPT_ENGINE_SHANI
    {&kShani, kShaniSet.Needs(), 1},
#endif
#if COMPATCRYPT_ENGINE_AVX2
    {&kAvx2, kAvx2Set.Needs(), 1},
#endif
#if COMPATCRYPT_ENGINE_AVX512
    {&kAvx512, kAvx512Set.Needs(), 2},
#endif
};
constexpr std::size_t kTableSize = std::size(kTable);

// The trial between engines of a tier: 128 blocks (8 KiB, a few
// microseconds), enough for the wide engines' whole groups to dominate.
double Trial(const DigestEngine &engine) {
  alignas(64) static constexpr uint8_t kBlocks[128 * kBlockSize] = {};
  uint32_t sums[5] = {};
  return LeastTime([&] { engine.blocks(kBlocks, 128, sums); });
}

struct Route {
  const DigestEngine *bulk;
  const DigestEngine *shortRuns;  // null: the bulk engine takes every block
};

struct Routes {
  EngineList<DigestEngine, kTableSize> list{kTable, Cpu()};
  Route alone[kTableSize];  // each engine taking every block itself
  Route best;               // the default
};

const Routes &AllRoutes() {
  static const Routes routes = [] {
    Routes r;
    const auto engines = r.list.All();
    const DigestEngine *shortRuns = nullptr;
    for (std::size_t i = 0; i < engines.size(); ++i) {
      r.alone[i] = {engines[i], nullptr};
      if (engines[i]->takesShortRuns) shortRuns = engines[i];
    }
    const DigestEngine *bulk = r.list.Best(Trial);
    r.best = {bulk, bulk->lanes > 1 ? shortRuns : nullptr};
    return r;
  }();
  return routes;
}

std::atomic<const Route *> &CurrentRoute() {
  static std::atomic<const Route *> route{&AllRoutes().best};
  return route;
}

}  // namespace

std::span<const DigestEngine *const> AvailableDigestEngines() { return AllRoutes().list.All(); }

const DigestEngine &ActiveDigestEngine() { return *CurrentRoute().load(std::memory_order_relaxed)->bulk; }

const DigestEngine *ShortRunDigestEngine() {
  return CurrentRoute().load(std::memory_order_relaxed)->shortRuns;
}

bool UseDigestEngine(std::string_view name) {
  const Routes &routes = AllRoutes();
  if (name.empty()) {
    CurrentRoute().store(&routes.best, std::memory_order_relaxed);
    return true;
  }
  const std::size_t i = routes.list.IndexOf(routes.list.Find(name));
  if (i == kTableSize) return false;
  CurrentRoute().store(&routes.alone[i], std::memory_order_relaxed);
  return true;
}

void DigestBlocks(const uint8_t *blocks, std::size_t count, uint32_t sums[5]) {
  if (count == 0) return;
  const Route &route = *CurrentRoute().load(std::memory_order_relaxed);
  const std::size_t rest = count % route.bulk->lanes;
  if (route.shortRuns == nullptr || rest == 0 || rest >= kShortRun) {
    route.bulk->blocks(blocks, count, sums);
    return;
  }
  if (count != rest) route.bulk->blocks(blocks, count - rest, sums);
  route.shortRuns->blocks(blocks + (count - rest) * kBlockSize, rest, sums);
}

}  // namespace compatcrypt::digest_core
