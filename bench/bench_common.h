// Shared pieces of the benchmarks. Every pair times ours and OpenSSL on the
// same bytes, so inputs are built once per size and kept for the whole run,
// and the OpenSSL objects are fetched once rather than inside a timed loop.
#pragma once

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace compatcrypt::bench {

inline constexpr int64_t kKiB = 1024;
inline constexpr int64_t kMiB = 1024 * kKiB;

// `size` bytes of fixed pseudo-random data; the same buffer on every call.
std::span<const unsigned char> Input(std::size_t size);

// A fixed 16-byte cipher key with no zero byte, so that each DES key is all
// eight bytes both for us (which stop at a zero byte) and for OpenSSL.
const std::array<unsigned char, 16> &CipherKey();

// The two DES keys of a 16-byte cipher key as OpenSSL takes them: the outer
// key (even-numbered bytes) first, then the middle key (odd-numbered bytes).
std::array<unsigned char, 16> SplitCipherKey(const unsigned char *key);

// OpenSSL state shared by the peers. Loading providers explicitly stops the
// implicit default one, so both are loaded: "default" for SHA-1, "legacy"
// in case two-key triple DES is only found there.
struct OpenSslPeer {
  OSSL_PROVIDER *default_provider = nullptr;
  OSSL_PROVIDER *legacy_provider = nullptr;
  EVP_MD *sha1 = nullptr;
  EVP_CIPHER *des_ede_cbc = nullptr;
  std::string cipher_error;  // why des_ede_cbc is null
};

const OpenSslPeer &OpenSsl();
void ReleaseOpenSsl();

// Byte throughput for bytes/s in the output.
inline void SetBytes(benchmark::State &state, int64_t bytes_per_iteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes_per_iteration);
}

// Registration, in the order the results are printed.
void RegisterDigestBenchmarks();
void RegisterDesBenchmarks();
void RegisterKeyBenchmarks();
void RegisterFileBenchmarks();

// Outputs compared with OpenSSL where the two formats agree (whole blocks),
// so that a pair is known to do the same work. Mismatches go to stderr.
bool CheckDesAgainstOpenSsl();
bool CheckKeyAgainstOpenSsl();

}  // namespace compatcrypt::bench
