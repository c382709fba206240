// Calls of all seven exports from several threads at once give the bytes
// of the same calls made one after another, and (where OpenSSL is there)
// the bytes of the independent models: every call works in storage of its
// own, and no shared state corrupts all calls alike. Built also under
// ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <thread>

#include "compatcrypt.h"
#include "support/test_support.h"
#if defined(COMPATCRYPT_TEST_OPENSSL_MODELS)
#include "support/openssl_models.h"
#endif

namespace compatcrypt::test {
namespace {

struct Job {
  Bytes data;
  Bytes key;
  std::string password;
  std::string file;  // narrow path, as hosts pass it
  Bytes fileContents;
};

// Runs every export over the job and returns all their outputs, joined.
Bytes RunAll(const Job &job) {
  const int32_t n = static_cast<int32_t>(job.data.size());
  const auto *pw = reinterpret_cast<const unsigned char *>(job.password.c_str());
  Bytes out(5 * job.data.size() + 56);
  unsigned char *p = out.data();
  int32_t len = 0;
  bool ok = EncodeFunction(job.data.data(), n, job.key.data(), 16, p, 1) == 1;
  ok &= DecodeFunction(job.data.data(), n, job.key.data(), 16, p += n, 1) == 1;
  ok &= EncodeKey(pw, job.data.data(), n, p += n, 1) == 1;
  ok &= DecodeKey(pw, job.data.data(), n, p += n, 1) == 1;
  ok &= MessageDigest(job.data.data(), n, p += n, &len, 1) == 1;
  ok &= KeyGenerating(pw, static_cast<int32_t>(job.password.size()), p += 20, &len, 1) == 1;
  ok &= FileDigest(reinterpret_cast<const unsigned char *>(job.file.c_str()), 3, p += 16, &len, 1) == 1;
  if (!ok) return {};
  return out;
}

#if defined(COMPATCRYPT_TEST_OPENSSL_MODELS)
// RunAll's outputs, laid out as RunAll lays them, from the models.
Bytes ModelAll(const Job &job) {
  const Bytes passwordKey = ModelPasswordKey(Bytes(job.password.begin(), job.password.end()));
  const std::size_t from = std::min<std::size_t>(3, job.fileContents.size());
  const Bytes pieces[] = {
      ModelEncode(job.data, job.key.data()),
      ModelDecode(job.data, job.key.data()),
      ModelEncode(job.data, passwordKey.data()),
      ModelDecode(job.data, passwordKey.data()),
      ModelDigest(job.data),
      passwordKey,
      ModelDigest(
          Bytes(job.fileContents.begin() + static_cast<std::ptrdiff_t>(from), job.fileContents.end())),
  };
  Bytes out;
  for (const Bytes &piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
  out.resize(5 * job.data.size() + 56, 0);
  return out;
}
#endif

TEST(Concurrency, ParallelCallsEqualSerialCalls) {
  constexpr int kThreads = 4;
  constexpr int kJobsPerThread = 60;
  std::mt19937_64 rng(51);
  TempDir dir;
  std::vector<std::filesystem::path> files;
  std::vector<Bytes> contents;
  for (int i = 0; i < 8; ++i) {
    contents.push_back(RandomBytes(rng, 100 + 31 * i));
    files.push_back(dir.Write(std::string(1, static_cast<char>('a' + i)), contents.back()));
  }
  std::vector<Job> jobs;
  for (int i = 0; i < kThreads * kJobsPerThread; ++i)
    jobs.push_back({RandomBytes(rng, rng() % 200), RandomBytes(rng, 16), std::to_string(rng() % 100000),
                    files[i % files.size()].string(), contents[i % files.size()]});
  std::vector<Bytes> serial;
  for (const auto &job : jobs) serial.push_back(RunAll(job));

  std::vector<Bytes> parallel(jobs.size());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (std::size_t i = t; i < jobs.size(); i += kThreads) parallel[i] = RunAll(jobs[i]);
    });
  for (auto &thread : threads) thread.join();

  for (std::size_t i = 0; i < jobs.size(); ++i) {
    ASSERT_FALSE(serial[i].empty()) << i;
    ASSERT_EQ(ToHex(parallel[i]), ToHex(serial[i])) << "job " << i;
#if defined(COMPATCRYPT_TEST_OPENSSL_MODELS)
    ASSERT_EQ(ToHex(parallel[i]), ToHex(ModelAll(jobs[i]))) << "job " << i;
#endif
  }
}

}  // namespace
}  // namespace compatcrypt::test
