#include "des/dispatch/des_dispatch.h"

#include <atomic>
#include <cstdint>
#include <iterator>

#include "support/cpu_features.h"

namespace compatcrypt::des {

namespace {

template <typename Engine>
struct Entry {
  const Engine *engine;
  bool (*runs)(const CpuFeatures &);
};

constexpr bool Always(const CpuFeatures &) { return true; }

// The dispatch tables, slowest first: the last entry the CPU runs is the
// default.
constexpr Entry<SerialDesEngine> kSerialTable[] = {
#if defined(__x86_64__)
    {&kSerialRotates, Always},
#endif
    {&kSerialPortable, Always},
#if COMPATCRYPT_ENGINE_VBMI
    {&kSerialVbmi,
     [](const CpuFeatures &cpu) {
       return cpu.avx512bw && cpu.avx512vl && cpu.avx512vbmi && cpu.avx512bitalg;
     }},
#endif
};

constexpr Entry<BitsliceDesEngine> kBitsliceTable[] = {
    {&kBitslicePortable, Always},
#if COMPATCRYPT_ENGINE_AVX2
    {&kBitsliceAvx2, [](const CpuFeatures &cpu) { return cpu.avx2; }},
#endif
#if COMPATCRYPT_ENGINE_AVX512
    {&kBitsliceAvx512, [](const CpuFeatures &cpu) { return cpu.avx512f && cpu.avx512bw; }},
#endif
};

// Routing runs of independent blocks. A bitsliced pass costs the same
// however few of its lanes carry blocks; the serial engine costs a block's
// time per block. Measured on one core of an AMD Zen 4 (EPYC),
// DecodeFunction of n blocks, in ns:
//   n                      1     8    16    32    64
//   serial, vbmi         420   910  1760  3450  6840
//   serial, portable     670  2900  5650 10400 20500
//   one pass of the bitsliced engine, whatever n:
//   portable (64 lanes) 4000, AVX2 (256 lanes) 3550, AVX-512 (512 lanes) 4600
// So a run stays on the serial engine below its crossover, which depends on
// how fast the serial engine is: about 32 blocks for vbmi, 12 for portable
// (8 for rotates, which is slower still). Whole passes go to the widest
// engine, and a rest that fits the next narrower engine's pass goes there
// when that pass holds at least half as many blocks (AVX2 under AVX-512,
// not the 64-bit engine under AVX2, whose pass costs more than AVX2's).
// Re-measure with
//   build/bench/compatcrypt_bench --benchmark_filter='decode_run/'
struct Crossover {
  const SerialDesEngine *engine;
  std::size_t blocks;
};

constexpr Crossover kCrossovers[] = {
#if defined(__x86_64__)
    {&kSerialRotates, 8},
#endif
    {&kSerialPortable, 12},
#if COMPATCRYPT_ENGINE_VBMI
    {&kSerialVbmi, 32},
#endif
};

// A route's crossover that follows the serial engine in use.
constexpr std::size_t kSerialsCrossover = 0;

std::size_t CrossoverOf(const SerialDesEngine *engine) {
  for (const Crossover &c : kCrossovers)
    if (c.engine == engine) return c.blocks;
  return 12;
}

template <typename Engine, std::size_t N>
struct Available {
  const Engine *engines[N] = {};
  std::size_t count = 0;
};

template <typename Engine, std::size_t N>
Available<Engine, N> Probe(const Entry<Engine> (&table)[N]) {
  Available<Engine, N> list;
  for (const Entry<Engine> &entry : table)
    if (entry.runs(Cpu())) list.engines[list.count++] = entry.engine;
  return list;
}

const auto &Serial() {
  static const auto list = Probe(kSerialTable);
  return list;
}

const auto &Bitslice() {
  static const auto list = Probe(kBitsliceTable);
  return list;
}

std::atomic<const SerialDesEngine *> &CurrentSerial() {
  static std::atomic<const SerialDesEngine *> engine{Serial().engines[Serial().count - 1]};
  return engine;
}

struct BitsliceRoute {
  const BitsliceDesEngine *engine;  // whole passes
  const BitsliceDesEngine *rest;    // a rest it can take in one pass; may be null
  std::size_t crossover;
};

// Every route a selection can name: each engine alone (taking every run),
// every run on the serial engine, and the default.
struct BitsliceRoutes {
  BitsliceRoute alone[std::size(kBitsliceTable)];
  BitsliceRoute serialOnly;
  BitsliceRoute best;
};

const BitsliceRoutes &Routes() {
  static const BitsliceRoutes routes = [] {
    BitsliceRoutes r{};
    const auto &list = Bitslice();
    for (std::size_t i = 0; i < list.count; ++i) r.alone[i] = {list.engines[i], nullptr, 1};
    const BitsliceDesEngine *widest = list.engines[list.count - 1];
    r.serialOnly = {widest, nullptr, SIZE_MAX};
    const BitsliceDesEngine *rest = list.count > 1 ? list.engines[list.count - 2] : nullptr;
    r.best = {widest, rest != nullptr && 2 * rest->lanes >= widest->lanes ? rest : nullptr,
              kSerialsCrossover};
    return r;
  }();
  return routes;
}

std::atomic<const BitsliceRoute *> &CurrentBitslice() {
  static std::atomic<const BitsliceRoute *> route{&Routes().best};
  return route;
}

template <typename Engine, typename List>
const Engine *Find(const List &list, std::string_view name) {
  for (std::size_t i = 0; i < list.count; ++i)
    if (list.engines[i]->name == name) return list.engines[i];
  return nullptr;
}

}  // namespace

std::span<const SerialDesEngine *const> AvailableSerialEngines() {
  return {Serial().engines, Serial().count};
}

std::span<const BitsliceDesEngine *const> AvailableBitsliceEngines() {
  return {Bitslice().engines, Bitslice().count};
}

const SerialDesEngine &ActiveSerialEngine() { return *CurrentSerial().load(std::memory_order_relaxed); }

const BitsliceDesEngine &ActiveBitsliceEngine() {
  return *CurrentBitslice().load(std::memory_order_relaxed)->engine;
}

const BitsliceDesEngine &BitsliceEngineFor(std::size_t blocks) {
  const BitsliceRoute &route = *CurrentBitslice().load(std::memory_order_relaxed);
  return route.rest != nullptr && blocks <= route.rest->lanes ? *route.rest : *route.engine;
}

std::size_t BitsliceCrossover() {
  const std::size_t crossover = CurrentBitslice().load(std::memory_order_relaxed)->crossover;
  return crossover == kSerialsCrossover ? CrossoverOf(&ActiveSerialEngine()) : crossover;
}

bool UseSerialEngine(std::string_view name) {
  const SerialDesEngine *engine =
      name.empty() ? Serial().engines[Serial().count - 1] : Find<SerialDesEngine>(Serial(), name);
  if (engine == nullptr) return false;
  CurrentSerial().store(engine, std::memory_order_relaxed);
  return true;
}

bool UseBitsliceEngine(std::string_view name) {
  const BitsliceRoutes &routes = Routes();
  const BitsliceRoute *route = nullptr;
  if (name.empty())
    route = &routes.best;
  else if (name == "serial")
    route = &routes.serialOnly;
  for (std::size_t i = 0; route == nullptr && i < Bitslice().count; ++i)
    if (Bitslice().engines[i]->name == name) route = &routes.alone[i];
  if (route == nullptr) return false;
  CurrentBitslice().store(route, std::memory_order_relaxed);
  return true;
}

}  // namespace compatcrypt::des
