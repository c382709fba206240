#include <map>
#include <vector>

#include "bench_common.h"

namespace compatcrypt::bench {

namespace {

// splitmix64: fast, fixed and good enough for filler bytes; a 64 MiB input
// is built in a fraction of a second.
uint64_t NextWord(uint64_t &state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

void Fill(std::span<unsigned char> bytes, uint64_t seed) {
  uint64_t state = seed;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 8 == 0) state = NextWord(state);
    bytes[i] = static_cast<unsigned char>(state >> (8 * (i % 8)));
  }
}

}  // namespace

std::span<const unsigned char> Input(std::size_t size) {
  // Benchmarks run one at a time on the main thread: no lock needed.
  static std::map<std::size_t, std::vector<unsigned char>> inputs;
  auto [it, inserted] = inputs.try_emplace(size, size);
  if (inserted) Fill(it->second, 0xC0FFEE ^ size);
  return it->second;
}

const std::array<unsigned char, 16> &CipherKey() {
  static const std::array<unsigned char, 16> key = [] {
    std::array<unsigned char, 16> k{};
    Fill(k, 0x5EED);
    for (unsigned char &b : k)
      if (b == 0) b = 0x01;
    return k;
  }();
  return key;
}

std::array<unsigned char, 16> SplitCipherKey(const unsigned char *key) {
  std::array<unsigned char, 16> split{};
  for (int i = 0; i < 8; ++i) {
    split[i] = key[2 * i];
    split[8 + i] = key[2 * i + 1];
  }
  return split;
}

namespace {

OpenSslPeer &PeerSlot() {
  static OpenSslPeer peer = [] {
    OpenSslPeer p;
    p.default_provider = OSSL_PROVIDER_load(nullptr, "default");
    p.legacy_provider = OSSL_PROVIDER_load(nullptr, "legacy");
    p.sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    p.des_ede_cbc = EVP_CIPHER_fetch(nullptr, "DES-EDE-CBC", nullptr);
    if (p.des_ede_cbc == nullptr)
      p.cipher_error = p.legacy_provider == nullptr ? "DES-EDE-CBC unavailable (legacy provider not loaded)"
                                                    : "DES-EDE-CBC unavailable";
    return p;
  }();
  return peer;
}

}  // namespace

const OpenSslPeer &OpenSsl() { return PeerSlot(); }

void ReleaseOpenSsl() {
  OpenSslPeer &p = PeerSlot();
  EVP_CIPHER_free(p.des_ede_cbc);
  EVP_MD_free(p.sha1);
  if (p.legacy_provider != nullptr) OSSL_PROVIDER_unload(p.legacy_provider);
  if (p.default_provider != nullptr) OSSL_PROVIDER_unload(p.default_provider);
  p = OpenSslPeer{};
}

}  // namespace compatcrypt::bench
