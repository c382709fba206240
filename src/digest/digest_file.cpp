#include <cstdio>

#include "digest/digest_accumulator.h"
#include "digest/digest_constants.h"
#include "digest/digest_drivers.h"
#include "support/secure_wipe.h"

namespace compatcrypt::digest_core {

namespace {

// Reads in requests of many blocks: a short read still ends the data, and
// a digest depends only on the bytes, never on how they were read.
constexpr std::size_t kReadBlocks = 256;

// Closes the stream on every path after a successful open.
struct StreamCloser {
  std::FILE *stream;
  ~StreamCloser() { std::fclose(stream); }
};

}  // namespace

bool DigestFile(const char *path, unsigned char *out, int32_t offset, int32_t *outLen) {
  std::FILE *stream = std::fopen(path, "rb");
  if (stream == nullptr) return false;
  StreamCloser closer{stream};
  // The stream's own buffer would only add a copy: reads are large already.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  if (offset < 0 || std::fseek(stream, offset, SEEK_SET) != 0) return false;

  DigestAccumulator accumulator;
  unsigned char buffer[kReadBlocks * kBlockSize];
  uint32_t byteCount = 0;
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) == sizeof buffer) {
    accumulator.AddBlocks(buffer, kReadBlocks);
    byteCount += static_cast<uint32_t>(sizeof buffer);
  }
  // A short read is the end of the data only if the stream saw no error: a
  // failed read (an I/O error, a directory) must not pass for a shorter file.
  if (std::ferror(stream)) {
    SecureWipe(buffer);
    return false;
  }
  const std::size_t wholeBlocks = got / kBlockSize;
  accumulator.AddBlocks(buffer, wholeBlocks);
  byteCount += static_cast<uint32_t>(got);
  accumulator.Finish(buffer + wholeBlocks * kBlockSize, got % kBlockSize, byteCount, out);
  SecureWipe(buffer);
  *outLen = kDigestSize;
  return true;
}

}  // namespace compatcrypt::digest_core
