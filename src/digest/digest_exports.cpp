// MessageDigest and FileDigest: the frame around the two digest drivers.
#include "compatcrypt.h"
#include "digest/digest_constants.h"
#include "digest/digest_drivers.h"
#include "frame/frame.h"

using namespace compatcrypt;

extern "C" int32_t MessageDigest(const unsigned char *data, int32_t dataLen, unsigned char *out,
                                 int32_t *outLen, uint32_t mode) {
  return frame::RunExport(mode, frame::kError, [&] {
    // A negative length would stand for 2 GiB or more, which no caller's
    // buffer holds: refuse it before reading.
    frame::Require(dataLen >= 0);
    frame::RequireBytes(data, dataLen);
    frame::Require(out != nullptr && outLen != nullptr);
    digest_core::DigestBuffer(data, static_cast<uint32_t>(dataLen), out, outLen);
    *outLen = digest_core::kDigestSize;
    return frame::kOk;
  });
}

extern "C" int32_t FileDigest(const unsigned char *path, int32_t offset, unsigned char *out,
                              int32_t *outLen, uint32_t mode) {
  return frame::RunExport(mode, frame::kError, [&] {
    if (path == nullptr) return frame::kFailed;
    frame::Require(out != nullptr && outLen != nullptr);
    if (!digest_core::DigestFile(reinterpret_cast<const char *>(path), out, offset, outLen))
      return frame::kFailed;
    *outLen = digest_core::kDigestSize;
    return frame::kOk;
  });
}
