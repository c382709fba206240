// The two digest drivers behind MessageDigest and FileDigest.
#pragma once

#include <cstdint>

namespace compatcrypt::digest_core {

// Digest of `byteCount` bytes at `data` into 20 bytes at `out`; sets
// *outLen to 20.
void DigestBuffer(const unsigned char *data, uint32_t byteCount, unsigned char *out, int32_t *outLen);

// Digest of the file `path` from `offset` to its end. Returns false, with
// nothing written, when the file cannot be opened, positioned or read.
bool DigestFile(const char *path, unsigned char *out, int32_t offset, int32_t *outLen);

}  // namespace compatcrypt::digest_core
