#include "digest/digest_dispatch.h"

#include <atomic>

#include "digest/digest_constants.h"
#include "support/cpu_features.h"

namespace compatcrypt::digest_core {

namespace {

struct Entry {
  DigestEngine engine;
  bool (*runs)(const CpuFeatures &);
};

// The dispatch table, slowest first: the last entry the CPU runs takes the
// bulk of every run. Measured on one core of a Xeon with AVX-512 and AMX, with all
// four engines, in GiB/s at 1 MiB: portable 0.2, SHA-NI 1.7, AVX2 3.1,
// AVX-512 6.4 (elsewhere SHA-NI has been 2.0 against AVX2's 3.3). Re-measure
// with
//   build/bench/compatcrypt_bench --benchmark_filter='digest_engine/'
constexpr Entry kTable[] = {
    {{"portable", DigestBlocksPortable, 1}, [](const CpuFeatures &) { return true; }},
#if COMPATCRYPT_ENGINE_SHANI
    {{"shani", DigestBlocksShani, 1}, [](const CpuFeatures &cpu) { return cpu.sha; }},
#endif
#if COMPATCRYPT_ENGINE_AVX2
    {{"avx2", DigestBlocksAvx2, 8}, [](const CpuFeatures &cpu) { return cpu.avx2; }},
#endif
#if COMPATCRYPT_ENGINE_AVX512
    {{"avx512", DigestBlocksAvx512, 16}, [](const CpuFeatures &cpu) { return cpu.avx512f && cpu.avx512bw; }},
#endif
};
constexpr std::size_t kTableSize = sizeof kTable / sizeof kTable[0];

// Short runs. A wide engine runs groups of `lanes` blocks, two groups in
// flight, and a partly filled group costs a full one. Measured on the same
// Xeon, in ns for a run of n blocks through one engine alone:
//   n          1    4    5    8   16   17   20   32
//   SHA-NI    35  137  172  282  568  576  681 1084
//   AVX2     168  169  170  169  358  487  477  618
//   AVX-512  166  167  166  167  167  293  290  306
// SHA-NI costs about 35 ns a block at any count, one wide group about five
// of those, and a second group in flight about four more. So a rest of
// fewer than kShortRun blocks after whole groups (a short message's one or
// two closing blocks among them) goes to SHA-NI where the CPU has it; any
// other rest stays with the bulk engine, which runs it as one group or two.
// Re-measure with the filter 'digest_run/' (runs of 1 to 33 and 64 blocks).
constexpr std::size_t kShortRun = 5;

struct Route {
  const DigestEngine *bulk;
  const DigestEngine *shortRuns;  // null: the bulk engine takes every block
};

struct Available {
  DigestEngine engines[kTableSize];
  std::size_t count = 0;
  Route alone[kTableSize];  // each engine taking every block itself
  Route best;               // the default
};

const Available &Engines() {
  static const Available available = [] {
    Available list{};
    const DigestEngine *shani = nullptr;
    for (const Entry &entry : kTable) {
      if (!entry.runs(Cpu())) continue;
      list.engines[list.count] = entry.engine;
      if (std::string_view(entry.engine.name) == "shani") shani = &list.engines[list.count];
      ++list.count;
    }
    for (std::size_t i = 0; i < list.count; ++i) list.alone[i] = {&list.engines[i], nullptr};
    const DigestEngine *bulk = &list.engines[list.count - 1];
    list.best = {bulk, bulk->lanes > 1 ? shani : nullptr};
    return list;
  }();
  return available;
}

std::atomic<const Route *> &CurrentRoute() {
  static std::atomic<const Route *> route{&Engines().best};
  return route;
}

}  // namespace

std::span<const DigestEngine> AvailableDigestEngines() { return {Engines().engines, Engines().count}; }

const DigestEngine &ActiveDigestEngine() { return *CurrentRoute().load(std::memory_order_relaxed)->bulk; }

const DigestEngine *ShortRunDigestEngine() {
  return CurrentRoute().load(std::memory_order_relaxed)->shortRuns;
}

bool UseDigestEngine(std::string_view name) {
  const Available &list = Engines();
  if (name.empty()) {
    CurrentRoute().store(&list.best, std::memory_order_relaxed);
    return true;
  }
  for (std::size_t i = 0; i < list.count; ++i) {
    if (list.engines[i].name == name) {
      CurrentRoute().store(&list.alone[i], std::memory_order_relaxed);
      return true;
    }
  }
  return false;
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
