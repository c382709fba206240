#include "des/dispatch/des_dispatch.h"

#include <atomic>
#include <cstdint>
#include <iterator>

#include "support/engine_table.h"

namespace compatcrypt::des {

namespace {

// The tables, each tier measured faster than the one below it wherever
// measured (support/engine_table.h). `rotates` is the portable engine's
// other form, slower on x86-64: never the default, run by the tests and
// the constant-time check.
//
// The two VBMI round shapes share a tier: machines rank them differently.
// CBC encryption of 1 MiB, ours / OpenSSL in the same run:
//   AMD Zen 4 (EPYC, family 25)   vbmi_planes 1.20x, vbmi_broadcast 1.06x
//   AMD Zen 5 (EPYC, family 26)   vbmi_planes 0.86x, vbmi_broadcast 1.18x
// (a Zen 4 core runs the 512-bit permutes of vbmi_broadcast in two halves;
// on Zen 5 its staged order fits the two shared permute pipes). So a trial
// at first use picks between them. Both need the same features, CD for
// vbmi_broadcast's mask broadcasts among them (every CPU with VBMI has it).
// Re-measure with
//   build/bench/compatcrypt_bench --benchmark_filter='serial_|_serial/'

constexpr EngineEntry<SerialDesEngine> kSerialTable[] = {
#if defined(__x86_64__)
    {&kSerialRotates, kRunsEverywhere, 0},
#endif
    {&kSerialPortable, kRunsEverywhere, 1},
#if COMPATCRYPT_ENGINE_VBMI
    {&kSerialVbmiPlanes, kVbmiSet.Needs(), 2},
    {&kSerialVbmiBroadcast, kVbmiSet.Needs(), 2},
#endif
};

// The trial between serial engines of a tier: CBC encryption of 8 blocks
// (about 2 us), the chain of rounds in which the shapes differ.
double SerialTrial(const SerialDesEngine &engine) {
  alignas(64) static constexpr uint8_t kBlocks[8 * 8] = {};
  uint8_t out[sizeof kBlocks];
  TripleDesSchedule keys;
  engine.schedule(0x0123456789ABCDEF, keys.outer);
  engine.schedule(0xFEDCBA9876543210, keys.middle);
  return LeastTime([&] {
    uint64_t chain = 0;
    engine.cbcEncrypt(keys, chain, kBlocks, 8, out);
  });
}

constexpr EngineEntry<BitsliceDesEngine> kBitsliceTable[] = {
    {&kBitslicePortable, kRunsEverywhere, 0},
#if COMPATCRYPT_ENGINE_AVX2
    {&kBitsliceAvx2, kAvx2Set.Needs(), 1},
#endif
#if COMPATCRYPT_ENGINE_AVX512
    {&kBitsliceAvx512, kAvx512Set.Needs(), 2},
#endif
};

constexpr std::size_t kSerialCount = std::size(kSerialTable);
constexpr std::size_t kBitsliceCount = std::size(kBitsliceTable);

// Routing runs of independent blocks. A bitsliced pass costs the same
// however few of its lanes carry blocks; the serial engine costs a block's
// time per block. Measured on an AMD EPYC Zen 5 (2 cores, family 26),
// DecodeFunction of n blocks, in ns:
//   n                      1     8    16    32    64    96   128   160   192
//   serial, vbmi (both)  370   380   380   420  1000  1500  2000  2500  3000
//   serial, portable     640  2340  4380  8430 16500
//   one pass of the bitsliced engine, whatever n:
//   portable (64 lanes) 3220, AVX2 (256 lanes) 3500, AVX-512 (512 lanes) 2700
// Both VBMI shapes decode on the same round (serial_vbmi_lanes.cpp: up to
// 32 blocks at once, so a few blocks cost little more than one), whose
// crossover is 176 blocks; each engine carries its own, so that a shape
// with a decryption of its own would carry its figure. 12 for portable
// (measured on a Zen 4; about 10 here, where it is never the default; 8 for
// rotates, which is slower still).
// Whole passes go to the widest engine, and a rest that fits the next
// narrower engine's pass goes there when that pass holds at least half as
// many blocks (AVX2 under AVX-512, not the 64-bit engine under AVX2, whose
// pass costs more than AVX2's).
// Re-measure with (the portable row with UseSerialEngine("portable"))
//   build/bench/compatcrypt_bench --benchmark_filter='decode_run/'
struct Route {
  const SerialDesEngine *serial;
  const BitsliceDesEngine *bulk;  // whole passes
  const BitsliceDesEngine *rest;  // a rest it takes in one pass; may be null
  std::size_t crossover;          // independent blocks below this go to `serial`
};

// Every route a selection can name, worked out once: for each serial
// engine, each bitsliced engine alone (taking every run, however short),
// every run on the serial engine, and the default.
constexpr std::size_t kAlone = 0, kSerialOnly = kBitsliceCount, kBest = kBitsliceCount + 1;
constexpr std::size_t kModes = kBitsliceCount + 2;

struct Routes {
  EngineList<SerialDesEngine, kSerialCount> serial{kSerialTable, Cpu()};
  EngineList<BitsliceDesEngine, kBitsliceCount> bitslice{kBitsliceTable, Cpu()};
  Route route[kSerialCount * kModes] = {};  // [serial engine * kModes + mode]
  const Route *best = nullptr;
};

const Routes &AllRoutes() {
  static const Routes routes = [] {
    Routes r;
    const auto bitslice = r.bitslice.All();
    const BitsliceDesEngine *widest = r.bitslice.Best();
    const BitsliceDesEngine *rest = nullptr;
    for (const BitsliceDesEngine *engine : bitslice)
      if (engine->lanes < widest->lanes && (rest == nullptr || engine->lanes > rest->lanes)) rest = engine;
    if (rest != nullptr && 2 * rest->lanes < widest->lanes) rest = nullptr;
    const auto serial = r.serial.All();
    for (std::size_t s = 0; s < serial.size(); ++s) {
      for (std::size_t b = 0; b < bitslice.size(); ++b)
        r.route[s * kModes + kAlone + b] = {serial[s], bitslice[b], nullptr, 1};
      r.route[s * kModes + kSerialOnly] = {serial[s], widest, nullptr, SIZE_MAX};
      r.route[s * kModes + kBest] = {serial[s], widest, rest, serial[s]->bitsliceCrossover};
    }
    r.best = &r.route[r.serial.IndexOf(r.serial.Best(SerialTrial)) * kModes + kBest];
    return r;
  }();
  return routes;
}

std::atomic<const Route *> &Current() {
  static std::atomic<const Route *> route{AllRoutes().best};
  return route;
}

const Route &CurrentRoute() { return *Current().load(std::memory_order_relaxed); }

// The current route's place in the table: serial engine * kModes + mode.
std::size_t CurrentPlace() { return static_cast<std::size_t>(&CurrentRoute() - AllRoutes().route); }

void Select(std::size_t serial, std::size_t mode) {
  Current().store(&AllRoutes().route[serial * kModes + mode], std::memory_order_relaxed);
}

}  // namespace

std::span<const SerialDesEngine *const> AvailableSerialEngines() { return AllRoutes().serial.All(); }

std::span<const BitsliceDesEngine *const> AvailableBitsliceEngines() { return AllRoutes().bitslice.All(); }

const SerialDesEngine &ActiveSerialEngine() { return *CurrentRoute().serial; }

const BitsliceDesEngine &ActiveBitsliceEngine() { return *CurrentRoute().bulk; }

const BitsliceDesEngine &BitsliceEngineFor(std::size_t blocks) {
  const Route &route = CurrentRoute();
  return route.rest != nullptr && blocks <= route.rest->lanes ? *route.rest : *route.bulk;
}

std::size_t BitsliceCrossover() { return CurrentRoute().crossover; }

const SerialDesEngine &PickSerialEngine(const CpuFeatures &cpu, double (*trial)(const SerialDesEngine &)) {
  return *EngineList<SerialDesEngine, kSerialCount>(kSerialTable, cpu).Best(trial);
}

bool UseSerialEngine(std::string_view name) {
  const Routes &routes = AllRoutes();
  const std::size_t serial = name.empty() ? static_cast<std::size_t>(routes.best - routes.route) / kModes
                                          : routes.serial.IndexOf(routes.serial.Find(name));
  if (serial == kSerialCount) return false;
  Select(serial, CurrentPlace() % kModes);
  return true;
}

bool UseBitsliceEngine(std::string_view name) {
  const Routes &routes = AllRoutes();
  std::size_t mode = kModes;
  if (name.empty())
    mode = kBest;
  else if (name == "serial")
    mode = kSerialOnly;
  else if (const std::size_t b = routes.bitslice.IndexOf(routes.bitslice.Find(name)); b != kBitsliceCount)
    mode = kAlone + b;
  if (mode == kModes) return false;
  Select(CurrentPlace() / kModes, mode);
  return true;
}

}  // namespace compatcrypt::des
