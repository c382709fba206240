// EncodeFunction / DecodeFunction against OpenSSL two-key triple-DES CBC.
// The peer's key schedules are built once outside the loop; ours are built
// inside every call, as the export has no other way to take a key, so small
// sizes also time two key schedules on our side.
#include <openssl/des.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "compatcrypt.h"
#include "compatcrypt.hpp"
#include "des/dispatch/des_dispatch.h"
#include "des/format/batch_codec.h"
#include "des/modes/triple_des.h"

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

// The format's work by the peer: whole blocks by its CBC, then a tail of r
// bytes XORed with the first r bytes of the first cipher block (in `out`
// when encoding, in `in` when decoding), as ours does.
void PeerCode(const unsigned char *in, std::size_t length, DesPeerKeys &keys, unsigned char *out, int enc) {
  const std::size_t whole = length / 8 * 8;
  PeerCbc(in, whole, keys, out, enc);
  const unsigned char *first = enc == DES_ENCRYPT ? out : in;
  for (std::size_t k = whole; k < length; ++k) out[k] = in[k] ^ first[k - whole];
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
  std::vector<unsigned char> out(in.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(out.data());
    PeerCode(in.data(), in.size(), keys, out.data(), enc);
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

// DecodeFunction with one bitsliced engine forced onto every run of blocks
// (no crossover): the engines side by side, and, at small block counts
// next to the serial engine, the crossover.
void DecodeOnEngine(benchmark::State &state, const char *engine) {
  if (!des::UseBitsliceEngine(engine)) {
    state.SkipWithError("engine not available");
    return;
  }
  CoderOurs(state, DecodeFunction);
  des::UseBitsliceEngine("");
}

// DecodeFunction with every run on the serial engine (a crossover past any
// run of the benchmark).
void DecodeSerial(benchmark::State &state) {
  des::UseBitsliceEngine("serial");
  CoderOurs(state, DecodeFunction);
  des::UseBitsliceEngine("");
}

// An export on one serial engine (each round shape the CPU runs side by
// side, whichever the trial chose), with the default route otherwise.
void CoderOnSerialEngine(benchmark::State &state, CoderFunction coder, const char *engine) {
  if (!des::UseSerialEngine(engine)) {
    state.SkipWithError("engine not available");
    return;
  }
  CoderOurs(state, coder);
  des::UseSerialEngine("");
}

// A table of records under one key: `count` buffers of `size` bytes, each
// coded as its own message. Ours in one batch call; the peer one by one with
// its schedules built once.
constexpr std::size_t kBatchCount = 4096;
constexpr std::size_t kBatchSize = 256;

struct BatchBuffers {
  std::vector<unsigned char> in;
  std::vector<unsigned char> out;
  std::vector<des::BatchBuffer> views;
};

BatchBuffers MakeBatch() {
  BatchBuffers b;
  const auto data = Input(kBatchCount * kBatchSize);
  b.in.assign(data.begin(), data.end());
  b.out.resize(b.in.size());
  for (std::size_t i = 0; i < kBatchCount; ++i)
    b.views.push_back({b.in.data() + i * kBatchSize, b.out.data() + i * kBatchSize, kBatchSize});
  return b;
}

void BatchOurs(benchmark::State &state, bool encode) {
  BatchBuffers b = MakeBatch();
  des::TripleDesSchedule keys;
  for (auto _ : state) {
    // The key is scheduled inside, as a call of the C++ batch API does.
    des::ScheduleTripleDesKeys(CipherKey().data(), keys);
    if (encode)
      des::EncodeBatch(keys, b.views);
    else
      des::DecodeBatch(keys, b.views);
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(b.in.size()));
}

void BatchOpenSsl(benchmark::State &state, int enc) {
  BatchBuffers b = MakeBatch();
  DesPeerKeys keys = PeerKeys(CipherKey().data());
  for (auto _ : state) {
    for (const des::BatchBuffer &view : b.views) PeerCbc(view.in, view.size, keys, view.out, enc);
    benchmark::ClobberMemory();
  }
  SetBytes(state, static_cast<int64_t>(b.in.size()));
}

}  // namespace

// Sizes: 20 B (a password-keyed field: two blocks and a tail) and 96 B (a
// database row: 12 independent blocks to decode) are the per-record cost a
// SQL user sees; 1 MiB the bulk rate.
void RegisterDesBenchmarks() {
  for (const int64_t size : {int64_t{16}, int64_t{20}, kKiB, kMiB}) {
    benchmark::RegisterBenchmark("encode/ours", CoderOurs, EncodeFunction)->Arg(size);
    benchmark::RegisterBenchmark("encode/openssl", CoderOpenSsl, DES_ENCRYPT)->Arg(size);
  }
  for (const int64_t size : {int64_t{16}, int64_t{96}, kKiB, 16 * kKiB, kMiB}) {
    benchmark::RegisterBenchmark("decode/ours", CoderOurs, DecodeFunction)->Arg(size);
    benchmark::RegisterBenchmark("decode/openssl", CoderOpenSsl, DES_DECRYPT)->Arg(size);
    benchmark::RegisterBenchmark("decode/cxx_decoder", DecoderStream, std::size_t{1} << 62)->Arg(size);
    benchmark::RegisterBenchmark("decode/cxx_decoder_64k", DecoderStream, std::size_t{64 * 1024})->Arg(size);
  }
  for (const des::BitsliceDesEngine *engine : des::AvailableBitsliceEngines())
    benchmark::RegisterBenchmark((std::string("decode_engine/") + engine->name).c_str(), DecodeOnEngine,
                                 engine->name)
        ->Arg(kMiB);
  for (const des::SerialDesEngine *engine : des::AvailableSerialEngines()) {
    for (const int64_t size : {int64_t{20}, kMiB})
      benchmark::RegisterBenchmark((std::string("encode_serial/") + engine->name).c_str(),
                                   CoderOnSerialEngine, EncodeFunction, engine->name)
          ->Arg(size);
    for (const int64_t size : {int64_t{96}, kMiB})
      benchmark::RegisterBenchmark((std::string("decode_serial/") + engine->name).c_str(),
                                   CoderOnSerialEngine, DecodeFunction, engine->name)
          ->Arg(size);
  }
  // Runs of a few blocks: where a bitsliced pass starts to beat the serial
  // engine (the crossover in des_dispatch.cpp).
  for (const int64_t blocks : {1, 2, 4, 6, 8, 12, 16, 24, 32, 64, 96, 128, 160, 192, 256}) {
    benchmark::RegisterBenchmark("decode_run/serial", DecodeSerial)->Arg(8 * blocks);
    for (const des::BitsliceDesEngine *engine : des::AvailableBitsliceEngines())
      benchmark::RegisterBenchmark((std::string("decode_run/") + engine->name).c_str(), DecodeOnEngine,
                                   engine->name)
          ->Arg(8 * blocks);
  }
  benchmark::RegisterBenchmark("batch_encode/ours", BatchOurs, true);
  benchmark::RegisterBenchmark("batch_encode/openssl", BatchOpenSsl, DES_ENCRYPT);
  benchmark::RegisterBenchmark("batch_decode/ours", BatchOurs, false);
  benchmark::RegisterBenchmark("batch_decode/openssl", BatchOpenSsl, DES_DECRYPT);
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
