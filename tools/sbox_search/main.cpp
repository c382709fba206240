// Searches short gate networks for the eight DES S-boxes and writes them as
// src/des/tables/sbox_circuits.h (two-input and three-input gate sets).
//
// Build and run:
//   cmake -S . -B build-sbox -G Ninja -DCMAKE_BUILD_TYPE=Release -DCOMPATCRYPT_SBOX_SEARCH=ON
//   cmake --build build-sbox --target compatcrypt_sbox_search
//   build-sbox/tools/sbox_search/compatcrypt_sbox_search
// With no options it repeats the search that wrote the committed header (about
// 40 minutes on two cores) and rewrites src/des/tables/sbox_circuits.h. Options:
//   --restarts2 N, --restarts3 N  restarts per S-box of each search
//   --improve N                   rounds of rebuilding each output on the others
//   --threads N, --out FILE
//   --box N, --arity 2|3          a trial run of one S-box or one gate set
//                                 (prints counts, writes nothing)
//   --exhaustive-depth, --pair-depth, --pair-limit, --cheap-depth, --node-limit,
//   --greedy-order                search settings (see SearchParams), for the
//                                 arities named before them
//   --start FILE                  take the networks of a header this tool wrote
//                                 instead of searching (FILE is read, not
//                                 rewritten unless --out names it)
//   --boxes LIST                  with --start: work on these S-boxes only
//                                 ("157"), copy the others
//   --exact N                     rounds of rebuilding each output of the best
//                                 three-input network by exact synthesis
//   --exact2 1                    the two-input networks' gates rebuilt too
//   --exact-window N              new gates per gate rebuilt, at most
//   --exact-pairs 0|1             rebuild two outputs at a time too
//   --exact-conflicts N           the solver's conflict limit per call
// The exact steps run the SAT solver `cadical` (Debian package cadical),
// with a conflict limit rather than a time limit so a run repeats exactly.
//
// Each output bit is split recursively on input bits (multiplexer forms whose
// halves are don't-care on the other side), reusing every signal already built
// for the S-box's other outputs; lookups of one new gate over the built
// signals end the recursion early, and near the top, splits on pairs of built
// signals are tried too. The top levels try every split in full, deeper ones
// pick by rollout. Restarts vary the output order and the order splits are
// tried in, from fixed seeds, so a run is reproducible. Two-input networks
// are also merged into three-input gates. Every network is checked against
// the S-box tables for all 64 inputs before it is written.
//
// The exact steps (exact_search.h) take a finished network further: a gate,
// or two gates whose cones share gates, with the gates only they need, is
// rebuilt as fewer gates over every signal outside their fanout, matching
// each only on the rows where its value reaches an output; an output, or two,
// is rebuilt over the gates the others need. A SAT solver finds the new gates
// (exact.h): a step that gives nothing shows, unless the solver stopped at
// its conflict limit, that no smaller replacement of that kind exists. The
// committed header names, in its comment, the runs that wrote it in turn.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emit.h"
#include "exact_search.h"
#include "netlist.h"
#include "parse.h"
#include "search.h"

namespace sbox_search {
namespace {

struct Options {
  std::array<int, 4> restarts = {0, 0, 12, 36};  // by gate arity
  std::array<SearchParams, 4> params;
  int improve_rounds = 2;
  // Rounds of rebuilding each output of the best three-input network by
  // exact synthesis (exact_search.h); 0: none.
  int exact_rounds = 0;
  bool exact2 = false;  // the two-input network's gates rebuilt too (ExactRebuildGates)
  ExactSearchParams exact;
  std::string start;  // a header to start from instead of searching
  int threads = 2;
  unsigned arities = (1u << 2) | (1u << 3);  // both searches
  int only_box = -1;                         // 0..7: that S-box alone (a trial run, nothing written)
  unsigned boxes = 0xFF;                     // with --start: the S-boxes worked on; the rest are copied
  std::string out = COMPATCRYPT_SBOX_HEADER;

  Options() {
    params[2].arity = 2;
    params[2].exhaustive_depth = 1;
    params[2].pair_depth = 0;
    params[2].pair_limit = 0;
    params[3].arity = 3;
    params[3].exhaustive_depth = 3;
    params[3].pair_depth = 2;
    params[3].greedy_order = true;
  }
};

bool Better(const Netlist &a, const Netlist &b, bool lut3) {
  const Counts ca = Count(a, lut3), cb = Count(b, lut3);
  if (ca.with_outputs != cb.with_outputs) return ca.with_outputs < cb.with_outputs;
  return ca.gates < cb.gates;
}

BoxCircuits SearchBox(int box, const Options &opt, const BoxCircuits *loaded) {
  BoxCircuits best;
  bool have2 = false, have3 = false;
  if (loaded) {
    best = *loaded;
    have2 = have3 = true;
  }
  for (int arity = 2; arity <= 3; ++arity) {
    if (!((opt.arities >> arity) & 1)) continue;
    for (int r = 0; !loaded && r < opt.restarts[arity]; ++r) {
      const uint64_t seed = (uint64_t(box) << 40) ^ (uint64_t(arity) << 32) ^ uint64_t(r);
      std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + 1);
      std::array<int, kOutputs> order = {0, 1, 2, 3};
      std::shuffle(order.begin(), order.end(), rng);
      Searcher s(opt.params[arity], rng());
      Netlist net;
      if (!s.Run(box, order, net)) continue;
      s.Improve(box, opt.improve_rounds, net);
      if (!Verify(net, box)) {
        std::fprintf(stderr, "S%d: search produced a wrong network\n", box + 1);
        std::exit(1);
      }
      if (arity == 2 && (!have2 || Better(net, best.gates2, false))) {
        best.gates2 = net;
        have2 = true;
      }
      const Netlist fused = FuseToLut3(net);
      if (!have3 || Better(fused, best.gates3, true)) {
        best.gates3 = fused;
        have3 = true;
      }
    }
  }
  if ((!have2 && ((opt.arities >> 2) & 1)) || !have3) {
    std::fprintf(stderr, "S%d: no network found\n", box + 1);
    std::exit(1);
  }
  if (opt.exact2 && have2) {
    ExactSearchParams params = opt.exact;
    params.sat.arity = 2;
    params.sat.seed = uint64_t(box);
    const int before = Count(best.gates2, false).with_outputs;
    params.improve_rounds = std::max(1, opt.exact_rounds);
    if (!ExactRebuildGates(box, params, best.gates2) ||
        !ExactImprove(box, {0, 1, 2, 3}, params, best.gates2) || !Verify(best.gates2, box)) {
      std::fprintf(stderr, "S%d: exact rebuilding produced a wrong two-input network\n", box + 1);
      std::exit(1);
    }
    std::fprintf(stderr, "S%d exact rebuilding: two-input %d -> %d with output XORs\n", box + 1, before,
                 Count(best.gates2, false).with_outputs);
  }
  if (opt.exact_rounds > 0 && have3) {
    ExactSearchParams params = opt.exact;
    params.improve_rounds = opt.exact_rounds;
    params.sat.seed = uint64_t(box);
    const int before = Count(best.gates3, true).with_outputs;
    if (!ExactRebuildGates(box, params, best.gates3) ||
        !ExactImprove(box, {0, 1, 2, 3}, params, best.gates3) || !Verify(best.gates3, box)) {
      std::fprintf(stderr, "S%d: exact rebuilding produced a wrong network\n", box + 1);
      std::exit(1);
    }
    std::fprintf(stderr, "S%d exact rebuilding: three-input %d -> %d with output XORs\n", box + 1, before,
                 Count(best.gates3, true).with_outputs);
  }
  // A network the exact steps left as it was keeps its text.
  if (loaded) {
    const auto same = [](const Netlist &a, const Netlist &b, bool lut3) {
      return Count(a, lut3).with_outputs == Count(b, lut3).with_outputs &&
             Count(a, lut3).gates == Count(b, lut3).gates;
    };
    best.body2 = same(best.gates2, loaded->gates2, false) ? loaded->body2 : "";
    best.body3 = same(best.gates3, loaded->gates3, true) ? loaded->body3 : "";
    if (best.body2.size()) best.gates2 = loaded->gates2;
    if (best.body3.size()) best.gates3 = loaded->gates3;
  }
  return best;
}

int Main(int argc, char **argv) {
  Options opt;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const long v = std::atol(argv[i + 1]);
    auto each = [&](auto set) {
      for (int arity = 2; arity <= 3; ++arity)
        if ((opt.arities >> arity) & 1) set(opt.params[arity]);
    };
    if (flag == "--restarts2")
      opt.restarts[2] = static_cast<int>(v);
    else if (flag == "--restarts3")
      opt.restarts[3] = static_cast<int>(v);
    else if (flag == "--improve")
      opt.improve_rounds = static_cast<int>(v);
    else if (flag == "--exact")
      opt.exact_rounds = static_cast<int>(v);
    else if (flag == "--exact2")
      opt.exact2 = v != 0;
    else if (flag == "--exact-window")
      opt.exact.window = static_cast<int>(v);
    else if (flag == "--exact-pairs")
      opt.exact.pairs = v != 0;
    else if (flag == "--exact-conflicts")
      opt.exact.sat.conflicts = v;
    else if (flag == "--threads")
      opt.threads = static_cast<int>(v);
    else if (flag == "--box")
      opt.only_box = static_cast<int>(v) - 1;
    else if (flag == "--boxes") {
      opt.boxes = 0;
      for (const char *c = argv[i + 1]; *c; ++c)
        if (*c >= '1' && *c <= '8') opt.boxes |= 1u << (*c - '1');
    } else if (flag == "--arity")
      opt.arities = 1u << v;
    else if (flag == "--start")
      opt.start = argv[i + 1];
    else if (flag == "--out")
      opt.out = argv[i + 1];
    // Search settings, for the arities chosen so far.
    else if (flag == "--exhaustive-depth")
      each([&](SearchParams &p) { p.exhaustive_depth = static_cast<int>(v); });
    else if (flag == "--pair-depth")
      each([&](SearchParams &p) { p.pair_depth = static_cast<int>(v); });
    else if (flag == "--pair-limit")
      each([&](SearchParams &p) { p.pair_limit = static_cast<int>(v); });
    else if (flag == "--cheap-depth")
      each([&](SearchParams &p) { p.cheap_depth = static_cast<int>(v); });
    else if (flag == "--greedy-order")
      each([&](SearchParams &p) { p.greedy_order = v != 0; });
    else if (flag == "--node-limit")
      each([&](SearchParams &p) { p.node_limit = v; });
    else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::array<BoxCircuits, 8> loaded;
  std::vector<std::string> commands;
  if (!opt.start.empty()) {
    std::ifstream in(opt.start);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!in || !ParseHeader(text.str(), loaded, commands, error)) {
      std::fprintf(stderr, "%s: %s\n", opt.start.c_str(), in ? error.c_str() : "cannot read");
      return 1;
    }
  }
  // A header that names no command came from the default run.
  if (!opt.start.empty() && commands.empty()) commands.push_back("compatcrypt_sbox_search");
  std::string command = "compatcrypt_sbox_search";
  for (int i = 1; i < argc; ++i) command += std::string(" ") + argv[i];
  commands.push_back(command);
  const auto start = std::chrono::steady_clock::now();
  std::array<BoxCircuits, 8> boxes;
  std::atomic<int> next{0};
  std::mutex print;
  std::vector<std::thread> workers;
  for (int t = 0; t < std::max(1, opt.threads); ++t) {
    workers.emplace_back([&] {
      for (int b; (b = next++) < 8;) {
        if (opt.only_box >= 0 && b != opt.only_box) continue;
        if (!opt.start.empty() && !((opt.boxes >> b) & 1)) {
          boxes[b] = loaded[b];
          continue;
        }
        boxes[b] = SearchBox(b, opt, opt.start.empty() ? nullptr : &loaded[b]);
        std::lock_guard<std::mutex> lock(print);
        const Counts c2 = Count(boxes[b].gates2, false), c3 = Count(boxes[b].gates3, true);
        std::printf("S%d  two-input %3d (%3d with output XORs)   three-input %3d (%3d with output XORs)\n",
                    b + 1, c2.gates, c2.with_outputs, c3.gates, c3.with_outputs);
        std::fflush(stdout);
      }
    });
  }
  for (auto &w : workers) w.join();

  if (opt.only_box >= 0 || (opt.start.empty() && opt.boxes != 0xFF)) return 0;
  double s2 = 0, s3 = 0, s2o = 0, s3o = 0;
  for (int b = 0; b < 8; ++b) {
    if ((opt.arities == 12 && !Verify(boxes[b].gates2, b)) || !Verify(boxes[b].gates3, b)) {
      std::fprintf(stderr, "S%d: network fails the table check\n", b + 1);
      return 1;
    }
    s2 += Count(boxes[b].gates2, false).gates;
    s2o += Count(boxes[b].gates2, false).with_outputs;
    s3 += Count(boxes[b].gates3, true).gates;
    s3o += Count(boxes[b].gates3, true).with_outputs;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("average two-input %.3f (%.3f with output XORs), three-input %.3f (%.3f with output XORs)\n",
              s2 / 8, s2o / 8, s3 / 8, s3o / 8);
  std::printf("all 16 networks match the S-box tables on all 64 inputs; %.1f s\n", secs);
  if (opt.arities != 12) return 0;  // a partial run for trying settings
  std::ofstream f(opt.out);
  f << EmitHeader(boxes, commands);
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", opt.out.c_str());
    return 1;
  }
  std::printf("wrote %s\n", opt.out.c_str());
  return 0;
}

}  // namespace
}  // namespace sbox_search

int main(int argc, char **argv) { return sbox_search::Main(argc, argv); }
