// The engine table: which engines a CPU gets, which is the default, and
// when a trial decides. Fake engines and CPUs, so that every machine runs
// the choices of every other.
#include "support/engine_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace compatcrypt {
namespace {

struct FakeEngine {
  const char *name;
  double time;  // what the trial measures
};

constexpr FakeEngine kPortable{"portable", 50}, kPerBlock{"per-block", 20}, kWide{"wide", 30},
    kWidest{"widest", 40};

std::vector<int> trialsRun;
double Trial(const FakeEngine &engine) {
  trialsRun.push_back(static_cast<int>(engine.time));
  return engine.time;
}

// portable < {per-block, wide} < widest: the middle two trade places
// between machines.
constexpr EngineEntry<FakeEngine> kTable[] = {
    {&kPortable, kRunsEverywhere, 0},
    {&kPerBlock, kSha, 1},
    {&kWide, kAvx2, 1},
    {&kWidest, kAvx2 | kAvx512f, 2},
};

CpuFeatures Cpu(bool sha, bool avx2, bool avx512f) {
  return {(sha ? uint32_t{kSha} : 0) | (avx2 || avx512f ? uint32_t{kAvx2} : 0) |
          (avx512f ? uint32_t{kAvx512f} : 0)};
}

struct Case {
  const char *machine;
  CpuFeatures cpu;
  std::vector<std::string> available;
  std::string best;
  std::size_t trials;  // engines timed
};

TEST(EngineTable, ListsWhatTheCpuRunsAndPicksTheHighestTierByTrialOnlyOnTies) {
  const Case cases[] = {
      {"no extensions", Cpu(false, false, false), {"portable"}, "portable", 0},
      {"AVX2 only", Cpu(false, true, false), {"portable", "wide"}, "wide", 0},
      {"SHA only", Cpu(true, false, false), {"portable", "per-block"}, "per-block", 0},
      // Both of the shared tier: the trial's faster (per-block: 20 < 30).
      {"SHA and AVX2", Cpu(true, true, false), {"portable", "per-block", "wide"}, "per-block", 2},
      {"everything", Cpu(true, true, true), {"portable", "per-block", "wide", "widest"}, "widest", 0},
  };
  for (const Case &c : cases) {
    const EngineList<FakeEngine, std::size(kTable)> list(kTable, c.cpu);
    std::vector<std::string> names;
    for (const FakeEngine *engine : list.All()) names.emplace_back(engine->name);
    EXPECT_EQ(names, c.available) << c.machine;
    trialsRun.clear();
    EXPECT_EQ(list.Best(Trial)->name, c.best) << c.machine;
    EXPECT_EQ(trialsRun.size(), c.trials) << c.machine;
    // Without a trial, the last of the top tier in the table's order.
    EXPECT_EQ(list.Best()->name, std::string(c.machine) == "SHA and AVX2" ? "wide" : c.best) << c.machine;
  }
}

TEST(EngineTable, TheTrialFollowsTheMachineNotTheTableOrder) {
  static constexpr FakeEngine kSlowPerBlock{"per-block", 35};
  static constexpr EngineEntry<FakeEngine> table[] = {
      {&kPortable, kRunsEverywhere, 0}, {&kSlowPerBlock, kRunsEverywhere, 1}, {&kWide, kRunsEverywhere, 1}};
  const EngineList<FakeEngine, 3> list(table, CpuFeatures{});
  EXPECT_STREQ(list.Best(Trial)->name, "wide");
}

TEST(EngineTable, FindsByNameAndPlace) {
  const EngineList<FakeEngine, std::size(kTable)> list(kTable, Cpu(false, true, false));
  EXPECT_EQ(list.Find("wide"), &kWide);
  EXPECT_EQ(list.IndexOf(list.Find("wide")), 1u);
  // An engine the CPU does not run is not found, like one that does not exist.
  EXPECT_EQ(list.Find("widest"), nullptr);
  EXPECT_EQ(list.Find(""), nullptr);
  EXPECT_EQ(list.IndexOf(nullptr), std::size(kTable));
}

TEST(EngineTable, LeastTimeIsTheLeastOfItsRuns) {
  int calls = 0;
  const double least = LeastTime([&] { ++calls; }, 7);
  EXPECT_EQ(calls, 7);
  EXPECT_GE(least, 0.0);
}

}  // namespace
}  // namespace compatcrypt
