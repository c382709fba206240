// FileDigest of a cached file against OpenSSL SHA-1 reading the same file
// with read(2) in 64 KiB requests: both sides pay for the system calls and
// the copies out of the page cache, which is what a file digest costs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_common.h"
#include "compatcrypt.h"

namespace compatcrypt::bench {

namespace {

// A file of `size` bytes of the fixed input, written once per run under
// the system's temporary directory and removed at exit.
const std::string &CachedFile(std::size_t size) {
  static std::string path;
  static std::size_t written = 0;
  if (written != size) {
    const char *tmp = std::getenv("TMPDIR");
    path = std::string(tmp != nullptr ? tmp : "/tmp") + "/compatcrypt_bench_" + std::to_string(getpid());
    std::FILE *f = std::fopen(path.c_str(), "wb");
    const auto in = Input(size);
    if (f != nullptr) {
      std::fwrite(in.data(), 1, in.size(), f);
      std::fclose(f);
    }
    written = size;
    std::atexit([] { std::remove(path.c_str()); });
  }
  return path;
}

void FileOurs(benchmark::State &state) {
  const std::string &path = CachedFile(static_cast<std::size_t>(state.range(0)));
  unsigned char out[20];
  int32_t outLen = 0;
  for (auto _ : state) {
    const int32_t rc =
        FileDigest(reinterpret_cast<const unsigned char *>(path.c_str()), 0, out, &outLen, COMPATCRYPT_MODE);
    if (rc != COMPATCRYPT_OK) state.SkipWithError("FileDigest failed");
    benchmark::DoNotOptimize(out);
  }
  SetBytes(state, state.range(0));
}

void FileOpenSsl(benchmark::State &state) {
  const std::string &path = CachedFile(static_cast<std::size_t>(state.range(0)));
  const EVP_MD *sha1 = OpenSsl().sha1;
  std::vector<unsigned char> buffer(64 * 1024);
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int outLen = 0;
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    EVP_DigestInit_ex(ctx, sha1, nullptr);
    ssize_t got;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0)
      EVP_DigestUpdate(ctx, buffer.data(), static_cast<std::size_t>(got));
    EVP_DigestFinal_ex(ctx, out, &outLen);
    close(fd);
    benchmark::DoNotOptimize(out);
  }
  EVP_MD_CTX_free(ctx);
  SetBytes(state, state.range(0));
}

}  // namespace

void RegisterFileBenchmarks() {
  benchmark::RegisterBenchmark("file_digest/ours", FileOurs)->Arg(256 * kMiB)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("file_digest/openssl", FileOpenSsl)
      ->Arg(256 * kMiB)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace compatcrypt::bench
