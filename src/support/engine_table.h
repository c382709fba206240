// Engines as data, for every subsystem that has several. An engine kind
// (serial DES, bitsliced DES, digest blocks) is a struct with a name and
// its functions; a table lists the engines this build holds, each with
// what it needs of the CPU and its tier, the rank measured on every
// machine seen. The engines the CPU runs keep the table's order, portable
// first, for tests and benchmarks to walk. The default is the engine of
// the highest tier the CPU runs; engines that share a tier are ones that
// machines rank differently, and a short trial on this machine at first
// use decides between them. Every engine gives the same bytes, so the
// choice changes the speed only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "support/cpu_features.h"
#include "support/instruction_sets.h"

namespace compatcrypt {

// An engine's entry: the engine (its name, functions and, where its kind
// has them, its crossovers), the CPU features it needs (an instruction
// set's Needs(), or kRunsEverywhere) and its tier.
template <typename Engine>
struct EngineEntry {
  const Engine *engine;
  uint32_t needs;
  int tier;
};

// A trial's time: the least of a few runs of `work`, in nanoseconds, the
// run least disturbed by other work on the machine.
template <typename Work>
double LeastTime(Work work, int runs = 5) {
  double least = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    if (i == 0 || took.count() < least) least = took.count();
  }
  return least;
}

// The table's first entry runs everywhere (the portable engine), so the
// list is never empty.
template <typename Engine, std::size_t N>
class EngineList {
 public:
  EngineList(const EngineEntry<Engine> (&table)[N], const CpuFeatures &cpu) {
    for (const EngineEntry<Engine> &entry : table)
      if (cpu.Has(entry.needs)) {
        engines_[count_] = entry.engine;
        tiers_[count_++] = entry.tier;
      }
  }

  std::span<const Engine *const> All() const { return {engines_, count_}; }

  // The engine called `name`, or null.
  const Engine *Find(std::string_view name) const {
    for (std::size_t i = 0; i < count_; ++i)
      if (engines_[i]->name == name) return engines_[i];
    return nullptr;
  }

  // The position of `engine` in All(), or N.
  std::size_t IndexOf(const Engine *engine) const {
    for (std::size_t i = 0; i < count_; ++i)
      if (engines_[i] == engine) return i;
    return N;
  }

  // The default engine: the one of the highest tier, or of several there
  // the one for which `trial` (time for a fixed piece of work, any unit)
  // returns least. Without a trial, the last of them in the table.
  const Engine *Best(double (*trial)(const Engine &) = nullptr) const {
    int top = tiers_[0];
    for (std::size_t i = 1; i < count_; ++i)
      if (tiers_[i] > top) top = tiers_[i];
    const Engine *tied[N] = {};
    std::size_t count = 0;
    for (std::size_t i = 0; i < count_; ++i)
      if (tiers_[i] == top) tied[count++] = engines_[i];
    if (count == 1 || trial == nullptr) return tied[count - 1];
    const Engine *best = tied[0];
    double bestTime = trial(*best);
    for (std::size_t i = 1; i < count; ++i) {
      const double time = trial(*tied[i]);
      if (time < bestTime) {
        best = tied[i];
        bestTime = time;
      }
    }
    return best;
  }

 private:
  const Engine *engines_[N] = {};
  int tiers_[N] = {};
  std::size_t count_ = 0;
};

}  // namespace compatcrypt
