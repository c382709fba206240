// compatcrypt_bench: the library's exports next to OpenSSL. Pairs are named
// <operation>/<ours|peer>[/<size>]; bench/report.py reads the JSON output
// (--benchmark_format=json) and prints ours/peer throughput ratios.
#include <openssl/crypto.h>

#include <cstdio>
#include <string>

#include "bench_common.h"
#include "des/dispatch/des_dispatch.h"
#include "digest_core/digest_dispatch.h"

int main(int argc, char **argv) {
  namespace cb = compatcrypt::bench;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // A mismatch means a pair would not time the same work: the run still
  // goes ahead, but the exit status says so.
  const bool des_ok = cb::CheckDesAgainstOpenSsl();
  const bool key_ok = cb::CheckKeyAgainstOpenSsl();

  benchmark::AddCustomContext("openssl", OpenSSL_version(OPENSSL_VERSION));
  benchmark::AddCustomContext("digest_engine",
                              std::string(compatcrypt::digest_core::ActiveDigestEngine().name));
  benchmark::AddCustomContext("des_serial_engine", std::string(compatcrypt::des::ActiveSerialEngine().name));
  cb::RegisterDigestBenchmarks();
  cb::RegisterDesBenchmarks();
  cb::RegisterKeyBenchmarks();
  cb::RegisterFileBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  cb::ReleaseOpenSsl();
  return des_ok && key_ok ? 0 : 2;
}
