#include "digest/digest_file.h"

#include "digest/digest_stream.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::digest_core {

namespace {

// Reads in requests of many blocks, so whole blocks go to the engines in
// runs; a digest depends only on the bytes, never on how they were read.
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
  return offset >= 0 && std::fseek(stream_, offset, SEEK_SET) == 0;
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
