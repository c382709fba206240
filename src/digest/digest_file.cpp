#include "digest/digest_file.h"

#include <fcntl.h>

#include "digest/digest_stream.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::digest_core {

namespace {

// Reads in requests of many blocks, so whole blocks go to the engines in
// runs; a digest depends only on the bytes, never on how they were read.
// 16 KiB: on a cached 256 MiB file, requests of 16, 64 and 128 KiB took the
// same CPU time within 2% (the copy out of the page cache costs the same per
// byte), and the buffer lives on the caller's stack, which a host may keep
// small. Re-measure with
//   build/bench/compatcrypt_bench --benchmark_filter='file_digest/'
// after changing this constant. The file is never mapped: a file truncated
// while mapped would kill the host with SIGBUS.
constexpr std::size_t kReadBytes = 256 * kBlockSize;

}  // namespace

DigestFile::~DigestFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

bool DigestFile::Open(const char *path, int32_t offset) {
  stream_ = std::fopen(path, "rb");
  if (stream_ == nullptr) return false;
  // The stream's own buffer would only add a copy: reads are large already.
  std::setvbuf(stream_, nullptr, _IONBF, 0);
  if (offset < 0 || std::fseek(stream_, offset, SEEK_SET) != 0) return false;
#if defined(POSIX_FADV_SEQUENTIAL)
  // Read once, in order: the kernel may read further ahead (a hint only; a
  // file that takes none, such as a pipe, is no failure).
  posix_fadvise(fileno(stream_), offset, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

bool DigestFile::Digest(std::span<uint8_t, kDigestBytes> out) {
  DigestStream stream;
  uint8_t buffer[kReadBytes];
  std::size_t got;
  do {
    got = std::fread(buffer, 1, sizeof buffer, stream_);
    stream.Update({buffer, got});
  } while (got == sizeof buffer);
  SecureWipe(buffer);
  const bool readFailed = std::ferror(stream_) != 0;
  if (!readFailed) stream.Finish(out);
  // The engines ran below the read buffer, deeper than the export's burn
  // reaches.
  BurnStack();
  return !readFailed;
}

}  // namespace compatcrypt::digest_core
