// One EncodeKey call on 20 bytes against OpenSSL. The `openssl_derive` peer
// does the same work with OpenSSL's DES: the password's fold, two single-DES
// steps each under a fresh schedule of its own block, the two schedules of
// the derived key, two CBC blocks and the 4-byte tail XORed with the first
// cipher block. The other peers are handed the derived key (they skip the
// derivation) and encrypt 20 bytes padded to three blocks.
#include <openssl/des.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_common.h"
#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"

namespace compatcrypt::bench {

namespace {

constexpr unsigned char kPassword[] = "bench password";
constexpr int32_t kDataSize = 20;
// 20 bytes rounded up to whole blocks: what both peers write.
constexpr int kPeerOutSize = 24;

std::array<unsigned char, 16> DerivedKey() {
  std::array<unsigned char, 16> key{};
  int32_t key_len = 0;
  KeyGenerating(kPassword, static_cast<int32_t>(sizeof kPassword - 1), key.data(), &key_len,
                COMPATCRYPT_MODE);
  return key;
}

void EncodeKeyOurs(benchmark::State &state) {
  const auto in = Input(kDataSize);
  unsigned char out[kDataSize];
  if (EncodeKey(kPassword, in.data(), kDataSize, out, COMPATCRYPT_MODE) != COMPATCRYPT_OK) {
    state.SkipWithError("EncodeKey failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(out);
    const int32_t rc = EncodeKey(kPassword, in.data(), kDataSize, out, COMPATCRYPT_MODE);
    benchmark::DoNotOptimize(rc);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kDataSize);
}

// The same on one serial engine: every round shape the CPU runs.
void EncodeKeyOnSerialEngine(benchmark::State &state, const char *engine) {
  if (!des::UseSerialEngine(engine)) {
    state.SkipWithError("engine not available");
    return;
  }
  EncodeKeyOurs(state);
  des::UseSerialEngine("");
}

// The whole of EncodeKey's work by OpenSSL's DES (where no key byte is zero,
// so that the key rule reads all eight bytes of every DES key).
void DeriveAndEncrypt(const unsigned char *in, unsigned char *out) {
  // The fold of a password of 7 bytes or more: XOR of its bytes, 7 bits each.
  DES_cblock seed = {0};
  for (std::size_t k = 0; k < sizeof kPassword - 1; ++k) seed[k % 8] ^= kPassword[k] & 0x7F;
  DES_key_schedule schedule;
  DES_cblock first, second;
  DES_set_key_unchecked(&seed, &schedule);
  DES_ecb_encrypt(&seed, &first, &schedule, DES_ENCRYPT);
  DES_set_key_unchecked(&first, &schedule);
  DES_ecb_encrypt(&first, &second, &schedule, DES_ENCRYPT);
  DES_key_schedule outer, middle;
  DES_set_key_unchecked(&first, &outer);
  DES_set_key_unchecked(&second, &middle);
  DES_cblock iv = {0};
  DES_ede2_cbc_encrypt(in, out, 16, &outer, &middle, &iv, DES_ENCRYPT);
  for (int k = 16; k < kDataSize; ++k) out[k] = in[k] ^ out[k - 16];
}

void EncodeKeyOpenSslDerive(benchmark::State &state) {
  const auto in = Input(kDataSize);
  unsigned char out[kDataSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(out);
    DeriveAndEncrypt(in.data(), out);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kDataSize);
}

// Low-level: both key schedules and the encryption on every call.
void LowLevelEncrypt(const std::array<unsigned char, 16> &split, const unsigned char *in,
                     unsigned char *out) {
  DES_cblock outer;
  DES_cblock middle;
  std::memcpy(outer, split.data(), 8);
  std::memcpy(middle, split.data() + 8, 8);
  DES_key_schedule outer_schedule;
  DES_key_schedule middle_schedule;
  DES_set_key_unchecked(&outer, &outer_schedule);
  DES_set_key_unchecked(&middle, &middle_schedule);
  DES_cblock iv = {0};
  DES_ede2_cbc_encrypt(in, out, kDataSize, &outer_schedule, &middle_schedule, &iv, DES_ENCRYPT);
}

void EncodeKeyOpenSslDes(benchmark::State &state) {
  const auto in = Input(kDataSize);
  const auto split = SplitCipherKey(DerivedKey().data());
  unsigned char out[kPeerOutSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(out);
    LowLevelEncrypt(split, in.data(), out);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kDataSize);
}

// EVP with the cipher fetched once and one context reused: reset, init with
// key and zero IV, update, final. Padding stays on (PKCS#7): 20 bytes in,
// 24 out, the same three blocks as the low-level peer, where switching it
// off would make 20 bytes an error.
bool EvpEncrypt(EVP_CIPHER_CTX *ctx, const EVP_CIPHER *cipher, const std::array<unsigned char, 16> &split,
                const unsigned char *in, unsigned char *out) {
  static constexpr unsigned char kZeroIv[8] = {};
  int written = 0;
  int last = 0;
  return EVP_CIPHER_CTX_reset(ctx) == 1 &&
         EVP_EncryptInit_ex(ctx, cipher, nullptr, split.data(), kZeroIv) == 1 &&
         EVP_EncryptUpdate(ctx, out, &written, in, kDataSize) == 1 &&
         EVP_EncryptFinal_ex(ctx, out + written, &last) == 1 && written + last == kPeerOutSize;
}

void EncodeKeyOpenSslEvp(benchmark::State &state) {
  const OpenSslPeer &peer = OpenSsl();
  if (peer.des_ede_cbc == nullptr) {
    state.SkipWithError(peer.cipher_error.c_str());
    return;
  }
  const auto in = Input(kDataSize);
  const auto split = SplitCipherKey(DerivedKey().data());
  unsigned char out[kPeerOutSize];
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  if (ctx == nullptr || !EvpEncrypt(ctx, peer.des_ede_cbc, split, in.data(), out)) {
    EVP_CIPHER_CTX_free(ctx);
    state.SkipWithError("EVP DES-EDE-CBC encryption failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(out);
    const bool ok = EvpEncrypt(ctx, peer.des_ede_cbc, split, in.data(), out);
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_CTX_free(ctx);
  SetBytes(state, kDataSize);
}

}  // namespace

void RegisterKeyBenchmarks() {
  benchmark::RegisterBenchmark("encode_key/ours", EncodeKeyOurs)->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("encode_key/openssl_derive", EncodeKeyOpenSslDerive)
      ->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("encode_key/openssl_des", EncodeKeyOpenSslDes)->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("encode_key/openssl_evp", EncodeKeyOpenSslEvp)->Unit(benchmark::kNanosecond);
  for (const des::SerialDesEngine *engine : des::AvailableSerialEngines())
    benchmark::RegisterBenchmark((std::string("encode_key_serial/") + engine->name).c_str(),
                                 EncodeKeyOnSerialEngine, engine->name)
        ->Unit(benchmark::kNanosecond);
}

bool CheckKeyAgainstOpenSsl() {
  // Only the two whole blocks are comparable (the tail rules differ), and
  // only when no derived key byte is zero (we stop a DES key there).
  const auto key = DerivedKey();
  for (const unsigned char b : key)
    if (b == 0) return true;
  const auto in = Input(kDataSize);
  const auto split = SplitCipherKey(key.data());
  unsigned char ours[kDataSize];
  unsigned char low[kPeerOutSize];
  unsigned char evp[kPeerOutSize];
  bool same = EncodeKey(kPassword, in.data(), kDataSize, ours, COMPATCRYPT_MODE) == COMPATCRYPT_OK;
  LowLevelEncrypt(split, in.data(), low);
  same = same && std::memcmp(ours, low, 16) == 0;
  unsigned char derived[kDataSize];
  DeriveAndEncrypt(in.data(), derived);
  same = same && std::memcmp(ours, derived, kDataSize) == 0;
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  const EVP_CIPHER *cipher = OpenSsl().des_ede_cbc;
  if (ctx != nullptr && cipher != nullptr)
    same = same && EvpEncrypt(ctx, cipher, split, in.data(), evp) && std::memcmp(ours, evp, 16) == 0;
  EVP_CIPHER_CTX_free(ctx);
  if (!same) std::fprintf(stderr, "check: EncodeKey differs from OpenSSL DES-EDE-CBC\n");
  return same;
}

}  // namespace compatcrypt::bench
