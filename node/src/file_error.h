// File digests: the path and offset as the caller gave them, the reading
// in pieces (stoppable between two), and the error for a file that cannot
// be read, with the system's reason.
#pragma once

#include <cstdint>
#include <string>

#include "addon.h"

namespace compatcrypt::node {

// A path: a string (as UTF-8) or a Buffer of the name's bytes; a zero byte
// inside is refused, as Node's fs refuses it.
bool ReadPath(napi_env env, napi_value value, std::string *path);
// An offset: a whole number or a bigint from 0 to 2^63 - 1.
bool ReadFileOffset(napi_env env, napi_value value, int64_t *offset);

// A file digest in steps: Open, then Step until it returns done, then the
// digest is in `digest`. The surface's file object is closed (and its
// state wiped) when this goes.
class FileRead {
 public:
  FileRead() = default;
  FileRead(const FileRead &) = delete;
  FileRead &operator=(const FileRead &) = delete;
  ~FileRead();

  // Opens without waiting: a FIFO or socket is refused at once.
  bool Open(const std::string &path, int64_t offset);
  // Reads and digests one piece; true when the file ended (the digest is
  // then ready) or failed (result is no longer COMPATCRYPT_BIND_OK).
  bool Step(std::size_t piece);
  // Open and every Step on this thread.
  void Run(const std::string &path, int64_t offset, std::size_t piece);

  int result = COMPATCRYPT_BIND_OK;
  int osError = 0;
  uint8_t digest[COMPATCRYPT_BIND_DIGEST_BYTES] = {};

 private:
  compatcrypt_bind_file *file_ = nullptr;
};

napi_value FileError(napi_env env, int result, int osError, const std::string &path, const char *context);

}  // namespace compatcrypt::node
