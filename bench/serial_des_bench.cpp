// The serial DES engines on their own interface, each next to OpenSSL's
// DES_* calls doing the same work: CBC encryption of 1 MiB (schedules built
// once), one key schedule, and one single-DES block under a fresh schedule
// (the password derivation's step).
// The pairs register themselves, so every engine this CPU runs is listed.
#include <openssl/des.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "des/dispatch/des_dispatch.h"
#include "des/engines/serial/serial_support.h"

namespace compatcrypt::bench {

namespace {

using des::SerialDesEngine;

// A DES key with no zero byte, so that the key rule reads all eight bytes
// for us as OpenSSL does.
constexpr unsigned char kDesKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

void CbcOurs(benchmark::State &state, const SerialDesEngine *engine) {
  const auto in = Input(static_cast<std::size_t>(kMiB));
  std::vector<unsigned char> out(in.size());
  const auto split = SplitCipherKey(CipherKey().data());
  des::TripleDesSchedule keys;
  engine->schedule(des::ReadDesKey(split.data()), keys.outer);
  engine->schedule(des::ReadDesKey(split.data() + 8), keys.middle);
  for (auto _ : state) {
    uint64_t chain = 0;
    engine->cbcEncrypt(keys, chain, in.data(), in.size() / 8, out.data());
    benchmark::DoNotOptimize(chain);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kMiB);
}

void CbcOpenSsl(benchmark::State &state) {
  const auto in = Input(static_cast<std::size_t>(kMiB));
  std::vector<unsigned char> out(in.size());
  const auto split = SplitCipherKey(CipherKey().data());
  DES_cblock outer, middle;
  std::memcpy(outer, split.data(), 8);
  std::memcpy(middle, split.data() + 8, 8);
  DES_key_schedule outer_schedule, middle_schedule;
  DES_set_key_unchecked(&outer, &outer_schedule);
  DES_set_key_unchecked(&middle, &middle_schedule);
  for (auto _ : state) {
    DES_cblock iv = {0};
    DES_ede2_cbc_encrypt(in.data(), out.data(), static_cast<long>(in.size()), &outer_schedule,
                         &middle_schedule, &iv, DES_ENCRYPT);
    benchmark::ClobberMemory();
  }
  SetBytes(state, kMiB);
}

void ScheduleOurs(benchmark::State &state, const SerialDesEngine *engine) {
  des::DesSchedule schedule;
  uint64_t key = des::ReadDesKey(kDesKey);
  for (auto _ : state) {
    benchmark::DoNotOptimize(key);
    engine->schedule(key, schedule);
    benchmark::DoNotOptimize(schedule);
  }
}

void ScheduleOpenSsl(benchmark::State &state) {
  DES_cblock key;
  std::memcpy(key, kDesKey, 8);
  DES_key_schedule schedule;
  for (auto _ : state) {
    benchmark::DoNotOptimize(key);
    DES_set_key_unchecked(&key, &schedule);
    benchmark::DoNotOptimize(schedule);
  }
}

// Each iteration keys the next block by the last result, as the password
// derivation does, so iterations do not overlap.
void BlockOurs(benchmark::State &state, const SerialDesEngine *engine) {
  uint64_t block = des::LoadBlock(kDesKey);
  des::DesSchedule schedule;
  for (auto _ : state) {
    unsigned char key[8];
    des::StoreBlock(block | 0x0101010101010101u, key);  // no zero byte
    engine->schedule(des::ReadDesKey(key), schedule);
    block = engine->crypt(schedule, block, false);
  }
  benchmark::DoNotOptimize(block);
}

void BlockOpenSsl(benchmark::State &state) {
  DES_cblock block;
  std::memcpy(block, kDesKey, 8);
  DES_key_schedule schedule;
  for (auto _ : state) {
    DES_cblock key;
    for (int i = 0; i < 8; ++i) key[i] = block[i] | 1;
    DES_set_key_unchecked(&key, &schedule);
    DES_ecb_encrypt(&block, &block, &schedule, DES_ENCRYPT);
  }
  benchmark::DoNotOptimize(block);
}

template <typename Ours, typename Peer>
void RegisterPair(const std::string &what, Ours ours, Peer peer) {
  for (const SerialDesEngine *engine : des::AvailableSerialEngines())
    benchmark::RegisterBenchmark((what + "/" + engine->name).c_str(), ours, engine)
        ->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark((what + "/openssl").c_str(), peer)->Unit(benchmark::kNanosecond);
}

// Registered before main() runs, like the BENCHMARK macros.
const bool kRegistered = [] {
  RegisterPair("serial_cbc_encrypt_1MiB", CbcOurs, CbcOpenSsl);
  RegisterPair("serial_schedule", ScheduleOurs, ScheduleOpenSsl);
  RegisterPair("serial_block_fresh_schedule", BlockOurs, BlockOpenSsl);
  return true;
}();

}  // namespace

}  // namespace compatcrypt::bench
