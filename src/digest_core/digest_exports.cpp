// MessageDigest and FileDigest: argument checks, then the digest stream.
#include <cstring>

#include "compatcrypt.h"
#include "digest_core/digest_file.h"
#include "digest_core/digest_stream.h"
#include "frame/frame.h"

using namespace compatcrypt;

extern "C" int32_t COMPATCRYPT_CALL MessageDigest(const unsigned char *data, int32_t dataLen,
                                                  unsigned char *out, int32_t *outLen, uint32_t mode) {
  if (!frame::ModeAccepted(mode)) return frame::kWrongMode;
  // A negative length would stand for 2 GiB or more, which no caller's
  // buffer holds: refused before anything is read.
  if (dataLen < 0 || (dataLen > 0 && data == nullptr)) return frame::kError;
  if (out == nullptr || outLen == nullptr) return frame::kError;
  return frame::Run(frame::kError, [&] {
    digest_core::DigestStream stream;
    stream.Update({data, static_cast<std::size_t>(dataLen)});
    stream.Finish(std::span<uint8_t, digest_core::kDigestBytes>(out, digest_core::kDigestBytes));
    *outLen = COMPATCRYPT_DIGEST_BYTES;
    return frame::kOk;
  });
}

// The file is tried first: a file that cannot be opened or positioned is
// -2 whatever `out` is; a null `out` or `outLen` with a usable file is -3.
extern "C" int32_t COMPATCRYPT_CALL FileDigest(const unsigned char *path, int32_t offset, unsigned char *out,
                                               int32_t *outLen, uint32_t mode) {
  if (!frame::ModeAccepted(mode)) return frame::kWrongMode;
  if (path == nullptr) return frame::kFailed;
  return frame::Run(frame::kError, [&] {
    digest_core::DigestFile file;
    if (!file.Open(reinterpret_cast<const char *>(path), offset)) return frame::kFailed;
    if (out == nullptr || outLen == nullptr) return frame::kError;
    uint8_t value[digest_core::kDigestBytes];
    if (!file.Digest(value)) return frame::kFailed;
    std::memcpy(out, value, sizeof value);
    *outLen = COMPATCRYPT_DIGEST_BYTES;
    return frame::kOk;
  });
}
