// Statistical timing check (the method of "dude, is my code constant
// time?"): for each export on each engine this CPU runs, many calls whose
// secrets are either one fixed value or fresh random values, the class of
// each call drawn at random, each call timed alone. Welch's t-test then
// asks whether the two classes' times differ: |t| above 4.5 is a timing
// difference the measurements show, beyond what noise explains.
//
// Times are noisy (interrupts, frequency changes, other programs), so the
// test is run on the raw times and on the times cropped at the 50th, 90th
// and 99th percentiles of a first batch, which drops the long tail noise
// adds; the largest |t| is reported. A control, a comparison that stops at
// the first differing byte, must show a difference, or the measurement
// cannot see one.
//
// Not part of the test suite: on a shared machine it can report noise. Run:
//   build/tests/ct/compatcrypt_timing_check [--measurements N] [--only TEXT]
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"
#include "digest_core/digest_dispatch.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A time stamp, fenced so that the call is neither started before the
// first stamp nor still running at the second.
inline uint64_t Now() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_lfence();
  const uint64_t t = __rdtsc();
  _mm_lfence();
  return t;
#else
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

// Welch's t-test, kept online (Welford's running mean and variance).
struct Welch {
  double n[2] = {0, 0};
  double mean[2] = {0, 0};
  double m2[2] = {0, 0};
  void Add(int cls, double x) {
    n[cls] += 1;
    const double d = x - mean[cls];
    mean[cls] += d / n[cls];
    m2[cls] += d * (x - mean[cls]);
  }
  double T() const {
    if (n[0] < 2 || n[1] < 2) return 0;
    const double v0 = m2[0] / (n[0] - 1);
    const double v1 = m2[1] / (n[1] - 1);
    const double se = std::sqrt(v0 / n[0] + v1 / n[1]);
    return se == 0 ? 0 : (mean[0] - mean[1]) / se;
  }
};

// One case: `call` runs the export on `bytes` secret bytes (key, data or
// password, as the case takes them). Passwords' bytes are never zero: a
// password's length is public.
struct Case {
  std::string name;
  std::size_t bytes;
  bool nonzero;
  std::function<void(const unsigned char *secret)> call;
  Bytes fixed = {};  // the fixed class's value; random if empty
};

struct Result {
  double maxT;
  double meanCycles;
};

constexpr double kThreshold = 4.5;

void Randomise(unsigned char *p, std::size_t n, bool nonzero, std::mt19937_64 &rng) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(rng());
    p[i] = nonzero ? static_cast<unsigned char>(b % 255 + 1) : b;
  }
}

// Inputs are made in batches before any of the batch's calls is timed, so
// that making them (more work for random ones) does not colour the times.
Result Measure(const Case &c, std::size_t measurements, std::mt19937_64 &rng) {
  Bytes fixed = c.fixed;
  if (fixed.empty()) {
    fixed.resize(c.bytes);
    Randomise(fixed.data(), c.bytes, c.nonzero, rng);
  }
  const std::size_t batch =
      std::max<std::size_t>(64, (std::size_t{4} << 20) / std::max<std::size_t>(c.bytes, 1));
  Bytes inputs(batch * c.bytes);
  std::vector<int> classes(batch);
  std::vector<uint64_t> times(batch);
  auto runBatch = [&](std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      classes[i] = static_cast<int>(rng() & 1);
      unsigned char *p = inputs.data() + i * c.bytes;
      if (classes[i] == 0)
        std::memcpy(p, fixed.data(), c.bytes);
      else
        Randomise(p, c.bytes, c.nonzero, rng);
    }
    for (std::size_t i = 0; i < n; ++i) {
      const uint64_t t0 = Now();
      c.call(inputs.data() + i * c.bytes);
      times[i] = Now() - t0;
    }
  };

  // A first batch sets the crop thresholds (and warms caches and branch
  // predictors; its times are not tested).
  const std::size_t warm = std::min(batch, std::max<std::size_t>(measurements / 10, 100));
  runBatch(warm);
  std::vector<uint64_t> first(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(warm));
  std::sort(first.begin(), first.end());
  const std::array<double, 4> crop = {INFINITY, static_cast<double>(first[first.size() / 2]),
                                      static_cast<double>(first[first.size() * 9 / 10]),
                                      static_cast<double>(first[first.size() * 99 / 100])};
  std::array<Welch, 4> tests;
  double total = 0;
  for (std::size_t done = 0; done < measurements;) {
    const std::size_t n = std::min(batch, measurements - done);
    runBatch(n);
    for (std::size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(times[i]);
      total += t;
      for (std::size_t k = 0; k < crop.size(); ++k)
        if (t <= crop[k]) tests[k].Add(classes[i], t);
    }
    done += n;
  }
  double maxT = 0;
  for (const Welch &w : tests) maxT = std::max(maxT, std::fabs(w.T()));
  return {maxT, total / static_cast<double>(measurements)};
}

// Public inputs and outputs, shared by the cases.
struct Buffers {
  Bytes data = Bytes(4096, 0xA5);  // public data where the key alone is secret
  Bytes out = Bytes(4096);
  unsigned char small[24];
  int32_t outLen = 0;
};

// The cases on the serial engine in use (and on decoding of `decodeBytes`).
// The cipher key and the plain data are secret when encoding; when decoding
// the key (the cipher text is public).
std::vector<Case> DesCases(Buffers &b, const std::string &route, std::size_t decodeBytes, bool serial) {
  std::vector<Case> cases;
  const auto decodeLen = static_cast<int32_t>(decodeBytes);
  cases.push_back({route + " DecodeFunction " + std::to_string(decodeBytes) + " B, key", 16, false,
                   [&b, decodeLen](const unsigned char *key) {
                     DecodeFunction(b.data.data(), decodeLen, key, 16, b.out.data(), COMPATCRYPT_MODE);
                   }});
  if (!serial) return cases;
  cases.push_back(
      {route + " EncodeFunction 64 B, key and data", 16 + 64, false, [&b](const unsigned char *secret) {
         EncodeFunction(secret + 16, 64, secret, 16, b.out.data(), COMPATCRYPT_MODE);
       }});
  cases.push_back({route + " KeyGenerating 8 B password", 8, false, [&b](const unsigned char *password) {
                     KeyGenerating(password, 8, b.small, &b.outLen, COMPATCRYPT_MODE);
                   }});
  // Password (8 bytes, then its terminator) and 20 bytes of data: the
  // terminator is written by the call, outside the secret bytes.
  cases.push_back(
      {route + " EncodeKey 8 B password, 20 B data", 8, true, [&b](const unsigned char *password) {
         unsigned char terminated[9];
         std::memcpy(terminated, password, 8);
         terminated[8] = 0;
         EncodeKey(terminated, b.data.data(), 20, b.out.data(), COMPATCRYPT_MODE);
       }});
  return cases;
}

Case DigestCase(Buffers &b, const std::string &route) {
  return {route + " MessageDigest 1000 B data", 1000, false, [&b](const unsigned char *data) {
            MessageDigest(data, 1000, b.small, &b.outLen, COMPATCRYPT_MODE);
          }};
}

// The control: a comparison with the fixed class's value that stops at the
// first differing byte; random input differs at once.
Case ControlCase() {
  static const Bytes fixed(512, 0x33);
  return {"control: comparison stopping at the first difference", 512, false,
          [](const unsigned char *data) {
            volatile std::size_t i = 0;
            while (i < fixed.size() && data[i] == fixed[i]) i = i + 1;
          },
          fixed};
}

}  // namespace

int main(int argc, char **argv) {
  using namespace compatcrypt;
  std::size_t measurements = 200000;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--measurements" && i + 1 < argc) {
      // Digits only (strtoull would take "-5" as a huge count).
      const std::string count = argv[++i];
      const bool digits =
          !count.empty() && count.size() <= 10 && count.find_first_not_of("0123456789") == std::string::npos;
      measurements = digits ? std::stoull(count) : 0;
    } else if (arg == "--only" && i + 1 < argc)
      only = argv[++i];
    else {
      std::fprintf(stderr, "usage: compatcrypt_timing_check [--measurements N] [--only TEXT]\n");
      return 2;
    }
  }
  if (measurements < 1000 || measurements > 1000000000) {
    std::fprintf(stderr, "compatcrypt_timing_check: --measurements takes a count from 1000 to 1000000000\n");
    return 2;
  }

  std::mt19937_64 rng(std::random_device{}());
  Buffers buffers;
  // Each case with the engine selection it runs under.
  std::vector<std::pair<Case, std::function<void()>>> cases = {{ControlCase(), [] {}}};
  for (const digest_core::DigestEngine *engine : digest_core::AvailableDigestEngines()) {
    const std::string name = engine->name;
    cases.push_back({DigestCase(buffers, "digest " + name), [name] { digest_core::UseDigestEngine(name); }});
  }
  for (const des::SerialDesEngine *engine : des::AvailableSerialEngines()) {
    const std::string name = engine->name;
    for (Case &c : DesCases(buffers, "serial " + name, 64, true))
      cases.push_back({std::move(c), [name] {
                         des::UseSerialEngine(name);
                         des::UseBitsliceEngine("serial");
                       }});
  }
  for (const des::BitsliceDesEngine *engine : des::AvailableBitsliceEngines()) {
    const std::string name = engine->name;
    for (Case &c : DesCases(buffers, "bitsliced " + name, 4096, false))
      cases.push_back({std::move(c), [name] {
                         des::UseSerialEngine("");
                         des::UseBitsliceEngine(name);
                       }});
  }

  std::printf("%-58s %12s %10s %8s\n", "case", "measurements", "cycles", "max |t|");
  int leaks = 0;
  int run = 0;
  bool controlSeen = true;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case &c = cases[i].first;
    if (!only.empty() && i != 0 && c.name.find(only) == std::string::npos) continue;
    cases[i].second();
    const Result r = Measure(c, measurements, rng);
    const bool differs = r.maxT > kThreshold;
    std::printf("%-58s %12zu %10.0f %8.2f %s\n", c.name.c_str(), measurements, r.meanCycles, r.maxT,
                i == 0 ? (differs ? "seen (as it must be)" : "NOT SEEN: the measurement is blind")
                       : (differs ? "TIMING DIFFERS" : ""));
    if (i == 0)
      controlSeen = differs;
    else if (differs)
      ++leaks;
    run += i == 0 ? 0 : 1;
  }
  digest_core::UseDigestEngine("");
  des::UseSerialEngine("");
  des::UseBitsliceEngine("");
  if (run == 0) {
    std::fprintf(stderr, "compatcrypt_timing_check: no case matches --only %s\n", only.c_str());
    return 2;
  }
  std::printf("|t| > %.1f: %d of %d case(s)%s\n", kThreshold, leaks, run,
              controlSeen ? "" : "; the control was not seen");
  return leaks == 0 && controlSeen ? 0 : 1;
}
