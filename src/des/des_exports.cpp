// EncodeFunction and DecodeFunction: the frame around the encoded-buffer
// format. A key shorter than 16 bytes is refused before anything is read.
#include "compatcrypt.h"
#include "des/triple_des.h"
#include "frame/frame.h"
#include "support/secure_wipe.h"

using namespace compatcrypt;

namespace {

constexpr int32_t kCipherKeySize = 16;

using BufferCoder = void (*)(const unsigned char *, std::size_t, const des::TripleDesKeys &,
                             unsigned char *);

int32_t RunCoder(BufferCoder coder, const unsigned char *data, int32_t dataLen,
                 const unsigned char *key, int32_t keyLen, unsigned char *out, uint32_t mode) {
  return frame::RunExport(
      mode, frame::kError,
      [&] { return keyLen < kCipherKeySize ? frame::kFailed : frame::kOk; },
      [&] {
        frame::RequireBytes(key, kCipherKeySize);
        if (dataLen <= 0) return frame::kOk;
        frame::RequireBytes(data, dataLen);
        frame::RequireBytes(out, dataLen);
        des::TripleDesKeys keys;
        des::ScheduleTripleDesKeys(key, keys);
        coder(data, static_cast<std::size_t>(dataLen), keys, out);
        SecureWipe(keys);
        return frame::kOk;
      });
}

}  // namespace

extern "C" int32_t EncodeFunction(const unsigned char *data, int32_t dataLen, const unsigned char *key,
                                  int32_t keyLen, unsigned char *out, uint32_t mode) {
  return RunCoder(des::EncodeBuffer, data, dataLen, key, keyLen, out, mode);
}

extern "C" int32_t DecodeFunction(const unsigned char *data, int32_t dataLen, const unsigned char *key,
                                  int32_t keyLen, unsigned char *out, uint32_t mode) {
  return RunCoder(des::DecodeBuffer, data, dataLen, key, keyLen, out, mode);
}
