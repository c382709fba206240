// The digest of a file's bytes from an offset to its end, read through the
// digest stream: the same bytes as a buffer give the same digest, and the
// byte count is what was read, not the file's size.
#pragma once

#include <cstdint>
#include <span>

#include "digest_core/digest_constants.h"

namespace compatcrypt::digest_core {

class DigestFile {
 public:
  DigestFile() = default;
  DigestFile(const DigestFile &) = delete;
  DigestFile &operator=(const DigestFile &) = delete;
  ~DigestFile();

  // Opens `path` for reading and positions it at `offset`. False when the
  // file cannot be opened or positioned (a negative offset, a pipe); errno
  // tells why. An offset at or past the end is no failure. FileDigest gives
  // 32-bit offsets, the C++ file_digest any 64-bit one.
  bool Open(const char *path, int64_t offset);

  // Reads to the end and writes the digest. False, with nothing written,
  // when a read fails (an I/O error, a directory): a failed read must not
  // pass for the end of a shorter file.
  bool Digest(std::span<uint8_t, kDigestBytes> out);

 private:
  int fd_ = -1;
  bool noBytes_ = false;  // positioned past the largest file the file system holds
};

}  // namespace compatcrypt::digest_core
