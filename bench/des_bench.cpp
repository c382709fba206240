// EncodeFunction / DecodeFunction against OpenSSL two-key triple-DES CBC.
// The peer's key schedules are built once outside the loop; ours are built
// inside every call, as the export has no other way to take a key, so small
// sizes also time two key schedules on our side.
#include <openssl/des.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_common.h"
#include "compatcrypt.h"
#include "compatcrypt.hpp"

namespace compatcrypt::bench {

namespace {

using CoderFunction = int32_t (*)(const unsigned char *, int32_t, const unsigned char *, int32_t,
                                  unsigned char *, uint32_t);

struct DesPeerKeys {
  DES_key_schedule outer;
  DES_key_schedule middle;
};

DesPeerKeys PeerKeys(const unsigned char *cipher_key) {
  const auto split = SplitCipherKey(cipher_key);
  DES_cblock outer;
  DES_cblock middle;
  std::memcpy(outer, split.data(), 8);
  std::memcpy(middle, split.data() + 8, 8);
  DesPeerKeys keys;
  DES_set_key_unchecked(&outer, &keys.outer);
  DES_set_key_unchecked(&middle, &keys.middle);
  return keys;
}

void PeerCbc(const unsigned char *in, std::size_t length, DesPeerKeys &keys, unsigned char *out, int enc) {
  DES_cblock iv = {0};  // fresh zero IV: the call updates it
  DES_ede2_cbc_encrypt(in, out, static_cast<long>(length), &keys.outer, &keys.middle, &iv, enc);
}

void CoderOurs(benchmark::State &state, CoderFunction coder) {
  const auto in = Input(static_cast<std::size_t>(state.range(0)));
  const auto length = static_cast<int32_t>(in.size());
  const unsigned char *key = CipherKey().data();
  std::vector<unsigned char> out(in.size());
  if (coder(in.data(), length, key, 16, out.data(), COMPATCRYPT_MODE) != COMPATCRYPT_OK) {
    state.SkipWithError("coder failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(out.data());
    const int32_t rc = coder(in.data(), length, key, 16, out.data(), COMPATCRYPT_MODE);
    benchmark::DoNotOptimize(rc);
    benchmark::ClobberMemory();
  }
  SetBytes(state, length);
}

void CoderOpenSsl(benchmark::State &state, int enc) {
  const auto in = Input(static_cast<std::size_t>(state.range(0)));
  DesPeerKeys keys = PeerKeys(CipherKey().data());
  // The peer writes whole blocks; every size here is a multiple of 8.
  std::vector<unsigned char> out(in.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(out.data());
    PeerCbc(in.data(), in.size(), keys, out.data(), enc);
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(in.size()));
}

// The C++ streaming decoder on the same buffer, as one update() and
// finish() into the caller's memory, or in chunks of `chunk` bytes (the
// tool reads 64 KiB at a time). It runs on the same engines as
// DecodeFunction, so the two should time alike.
void DecoderStream(benchmark::State &state, std::size_t chunk) {
  const auto in = Input(static_cast<std::size_t>(state.range(0)));
  const auto bytes = std::as_bytes(std::span(in.data(), in.size()));
  const Key key(std::as_bytes(std::span<const unsigned char, 16>(CipherKey())));
  Decoder decoder(key);
  std::vector<std::byte> out(in.size() + 8);
  for (auto _ : state) {
    benchmark::DoNotOptimize(out.data());
    std::size_t written = 0;
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
      const auto piece = bytes.subspan(at, std::min(chunk, bytes.size() - at));
      written += decoder.update(piece, std::span(out).subspan(written));
    }
    decoder.finish(std::span(out).subspan(written));
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(in.size()));
}

}  // namespace

void RegisterDesBenchmarks() {
  for (const int64_t size : {int64_t{16}, kKiB, kMiB}) {
    benchmark::RegisterBenchmark("encode/ours", CoderOurs, EncodeFunction)->Arg(size);
    benchmark::RegisterBenchmark("encode/openssl", CoderOpenSsl, DES_ENCRYPT)->Arg(size);
  }
  for (const int64_t size : {int64_t{16}, kKiB, kMiB}) {
    benchmark::RegisterBenchmark("decode/ours", CoderOurs, DecodeFunction)->Arg(size);
    benchmark::RegisterBenchmark("decode/openssl", CoderOpenSsl, DES_DECRYPT)->Arg(size);
    benchmark::RegisterBenchmark("decode/cxx_decoder", DecoderStream, std::size_t{1} << 62)->Arg(size);
    benchmark::RegisterBenchmark("decode/cxx_decoder_64k", DecoderStream, std::size_t{64 * 1024})->Arg(size);
  }
}

bool CheckDesAgainstOpenSsl() {
  // On whole blocks with no zero key byte the two formats are the same
  // cipher, so equal outputs show the pair does the same work.
  const auto in = Input(static_cast<std::size_t>(kKiB));
  const unsigned char *key = CipherKey().data();
  DesPeerKeys keys = PeerKeys(key);
  std::vector<unsigned char> ours(in.size());
  std::vector<unsigned char> peer(in.size());
  bool same = true;
  for (const int enc : {DES_ENCRYPT, DES_DECRYPT}) {
    const CoderFunction coder = enc == DES_ENCRYPT ? EncodeFunction : DecodeFunction;
    const int32_t rc =
        coder(in.data(), static_cast<int32_t>(in.size()), key, 16, ours.data(), COMPATCRYPT_MODE);
    PeerCbc(in.data(), in.size(), keys, peer.data(), enc);
    if (rc != COMPATCRYPT_OK || ours != peer) {
      std::fprintf(stderr, "check: %s differs from OpenSSL DES-EDE-CBC\n",
                   enc == DES_ENCRYPT ? "EncodeFunction" : "DecodeFunction");
      same = false;
    }
  }
  return same;
}

}  // namespace compatcrypt::bench
