// The digest of a file's bytes from an offset to its end, read through the
// digest stream: the same bytes as a buffer give the same digest, and the
// byte count is what was read, not the file's size.
//
// The file can be read whole (Digest) or in pieces (Read, then Finish), so
// that a host can check between pieces whether it has been asked to stop:
// an endless device or a huge file must not hold it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "digest_core/digest_constants.h"
#include "digest_core/digest_stream.h"

namespace compatcrypt::digest_core {

class DigestFile {
 public:
  enum class Step { more, end, failed };

  DigestFile() = default;
  DigestFile(const DigestFile &) = delete;
  DigestFile &operator=(const DigestFile &) = delete;
  ~DigestFile();

  // Opens `path` for reading and positions it at `offset`. False when the
  // file cannot be opened or positioned (a negative offset); errno tells
  // why. The open never waits: a FIFO or a socket, which has no offsets to
  // read from, is refused at once (ESPIPE) instead of waiting for a writer;
  // so is an offset other than 0 on a device that keeps no position.
  // An offset at or past the end is no failure. FileDigest gives 32-bit
  // offsets, the C++ file_digest and the binding surface any 64-bit one.
  bool Open(const char *path, int64_t offset);

  // Reads and digests at least one request's worth and about `limit` bytes
  // (0: to the end). `failed` when a read fails (an I/O error, a
  // directory), with errno telling why: a failed read must not pass for the
  // end of a shorter file.
  Step Read(std::size_t limit);

  // After Read gave `end`: writes the digest.
  void Finish(std::span<uint8_t, kDigestBytes> out);

  // Reads to the end and writes the digest; false, with nothing written,
  // when a read fails.
  bool Digest(std::span<uint8_t, kDigestBytes> out);

 private:
  int fd_ = -1;
  bool noBytes_ = false;  // positioned past the largest file the file system holds
  DigestStream stream_;
};

}  // namespace compatcrypt::digest_core
