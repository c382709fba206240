// File digests: the path and offset as the caller gave them, the reading
// in pieces (stoppable between two), and the error for a file that cannot
// be read, with the system's reason.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "addon.h"

namespace compatcrypt::node {

// A path: a string (as UTF-8) or a Buffer of the name's bytes; a zero byte
// inside is refused, as Node's fs refuses it.
bool ReadPath(napi_env env, napi_value value, std::string *path);
// An offset: a whole number or a bigint from 0 to 2^63 - 1.
bool ReadFileOffset(napi_env env, napi_value value, int64_t *offset);

struct FileRead {
  int result = COMPATCRYPT_BIND_OK;
  int osError = 0;
  bool stopped = false;
  uint8_t digest[COMPATCRYPT_BIND_DIGEST_BYTES] = {};

  // Opens without waiting (a FIFO or socket is refused at once) and reads
  // pieces of `piece` bytes until the end, or until `stop` is set.
  void Run(const std::string &path, int64_t offset, std::size_t piece, const std::atomic<bool> *stop);
};

napi_value FileError(napi_env env, int result, int osError, const std::string &path, const char *context);

}  // namespace compatcrypt::node
