// MessageDigest against OpenSSL SHA-1. The two digests differ (ours sums
// per-block compressions, no chaining and no length block) but the work per
// byte is one SHA-1 compression either way, which is what is compared.
#include <string>
#include <string_view>

#include "bench_common.h"
#include "compatcrypt.h"
#include "digest_core/digest_dispatch.h"

namespace compatcrypt::bench {

namespace {

constexpr int32_t kDigestSize = 20;

void DigestOurs(benchmark::State &state) {
  const auto in = Input(static_cast<std::size_t>(state.range(0)));
  const auto length = static_cast<int32_t>(in.size());
  unsigned char out[kDigestSize];
  int32_t out_len = 0;
  if (MessageDigest(in.data(), length, out, &out_len, COMPATCRYPT_MODE) != COMPATCRYPT_OK) {
    state.SkipWithError("MessageDigest failed");
    return;
  }
  for (auto _ : state) {
    const int32_t rc = MessageDigest(in.data(), length, out, &out_len, COMPATCRYPT_MODE);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  SetBytes(state, length);
}

// EVP_Digest with SHA-1 fetched once: the one-shot SHA1() of 3.0 fetches
// the algorithm again on every call, which would time a name lookup.
void DigestOpenSsl(benchmark::State &state) {
  const EVP_MD *sha1 = OpenSsl().sha1;
  if (sha1 == nullptr) {
    state.SkipWithError("SHA1 not available from OpenSSL");
    return;
  }
  const auto in = Input(static_cast<std::size_t>(state.range(0)));
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int out_len = 0;
  for (auto _ : state) {
    const int rc = EVP_Digest(in.data(), in.size(), out, &out_len, sha1, nullptr);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(in.size()));
}

// One engine taking every block of the run, then the default route put
// back, so later benchmarks see the library's own choice.
void DigestEngine(benchmark::State &state, const std::string &name) {
  if (!digest_core::UseDigestEngine(name)) {
    state.SkipWithError("engine not available");
    return;
  }
  DigestOurs(state);
  digest_core::UseDigestEngine("");
}

// A run of state.range(0) blocks straight through one engine: where a wide
// engine's pass stops paying against SHA-NI, and where a wide engine's rest
// fills one group or two (the dispatch's thresholds).
void DigestRun(benchmark::State &state, digest_core::DigestBlocksFunction blocks) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto in = Input(64 * count);
  uint32_t sums[5] = {};
  for (auto _ : state) {
    blocks(in.data(), count, sums);
    benchmark::DoNotOptimize(sums);
  }
  SetBytes(state, static_cast<int64_t>(in.size()));
}

}  // namespace

void RegisterDigestBenchmarks() {
  // Ours and the peer side by side for each size, so both see the same
  // state of a noisy machine.
  for (const int64_t size : {int64_t{64}, 4 * kKiB, kMiB, 64 * kMiB}) {
    benchmark::RegisterBenchmark("digest/ours", DigestOurs)->Arg(size)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("digest/openssl", DigestOpenSsl)->Arg(size)->Unit(benchmark::kMicrosecond);
  }
  for (const digest_core::DigestEngine *engine : digest_core::AvailableDigestEngines()) {
    const std::string name(engine->name);
    benchmark::RegisterBenchmark(("digest_engine/" + name).c_str(), DigestEngine, name)
        ->Arg(64)
        ->Arg(4 * kKiB)
        ->Arg(kMiB)
        ->Unit(benchmark::kMicrosecond);
  }
  for (const digest_core::DigestEngine *engine : digest_core::AvailableDigestEngines())
    benchmark::RegisterBenchmark((std::string("digest_run/") + engine->name).c_str(), DigestRun,
                                 engine->blocks)
        ->DenseRange(1, 33)
        ->Arg(64);
}

}  // namespace compatcrypt::bench
