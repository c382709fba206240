// EncodeFunction and DecodeFunction: argument checks, then one pass of the
// codec stream over the buffer.
#include "compatcrypt.h"
#include "des/format/codec_stream.h"
#include "frame/frame.h"

using namespace compatcrypt;

namespace {

template <typename Stream>
int32_t CodeBuffer(const unsigned char *data, int32_t dataLen, const unsigned char *key, int32_t keyLen,
                   unsigned char *out, uint32_t mode) {
  if (!frame::ModeAccepted(mode)) return frame::kWrongMode;
  // Only the first 16 bytes of a longer key are read.
  if (keyLen < COMPATCRYPT_KEY_BYTES) return frame::kFailed;
  if (key == nullptr) return frame::kError;
  if (dataLen <= 0) return frame::kOk;
  if (data == nullptr || out == nullptr) return frame::kError;
  return frame::Run(frame::kError, [&] {
    Stream stream(std::span<const uint8_t, des::kCipherKeyBytes>(key, des::kCipherKeyBytes));
    const std::size_t written = stream.Update({data, static_cast<std::size_t>(dataLen)}, out);
    stream.Finish(out + written);
    return frame::kOk;
  });
}

}  // namespace

extern "C" int32_t COMPATCRYPT_CALL EncodeFunction(const unsigned char *data, int32_t dataLen,
                                                   const unsigned char *key, int32_t keyLen,
                                                   unsigned char *out, uint32_t mode) {
  return CodeBuffer<des::EncodeStream>(data, dataLen, key, keyLen, out, mode);
}

extern "C" int32_t COMPATCRYPT_CALL DecodeFunction(const unsigned char *data, int32_t dataLen,
                                                   const unsigned char *key, int32_t keyLen,
                                                   unsigned char *out, uint32_t mode) {
  return CodeBuffer<des::DecodeStream>(data, dataLen, key, keyLen, out, mode);
}
