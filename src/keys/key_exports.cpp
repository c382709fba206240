// KeyGenerating, EncodeKey and DecodeKey: argument checks, then the key
// derivation and, for the password-keyed coding, one pass of the codec
// stream under the derived key.

#include "compatcrypt.h"
#include "des/format/codec_stream.h"
#include "frame/frame.h"
#include "keys/password_key.h"
#include "support/secure_wipe.h"
#include "support/taint_check.h"

using namespace compatcrypt;

extern "C" int32_t COMPATCRYPT_CALL KeyGenerating(const unsigned char *password, int32_t passwordLen,
                                                  unsigned char *out, int32_t *outLen, uint32_t mode) {
  if (!frame::ModeAccepted(mode)) return frame::kWrongMode;
  // A negative length counts as an empty password.
  const std::size_t length = passwordLen > 0 ? static_cast<std::size_t>(passwordLen) : 0;
  if (length != 0 && password == nullptr) return frame::kError;
  if (out == nullptr || outLen == nullptr) return frame::kError;
  return frame::Run(frame::kError, [&] {
    keys::DerivePasswordKey({password, length},
                            std::span<uint8_t, des::kCipherKeyBytes>(out, des::kCipherKeyBytes));
    *outLen = COMPATCRYPT_KEY_BYTES;
    return frame::kOk;
  });
}

namespace {

// The password is NUL-terminated. Every failure of these two is -2.
template <typename Stream>
int32_t CodeUnderPassword(const unsigned char *password, const unsigned char *data, int32_t dataLen,
                          unsigned char *out, uint32_t mode) {
  if (!frame::ModeAccepted(mode)) return frame::kWrongMode;
  if (password == nullptr) return frame::kFailed;
  if (dataLen <= 0) return frame::kOk;
  if (data == nullptr || out == nullptr) return frame::kFailed;
  return frame::Run(frame::kFailed, [&] {
    uint8_t key[des::kCipherKeyBytes];
    keys::DerivePasswordKey({password, taint::PasswordLength(password)}, key);
    Stream stream(key);
    SecureWipe(key);
    const std::size_t written = stream.Update({data, static_cast<std::size_t>(dataLen)}, out);
    stream.Finish(out + written);
    return frame::kOk;
  });
}

}  // namespace

extern "C" int32_t COMPATCRYPT_CALL EncodeKey(const unsigned char *password, const unsigned char *data,
                                              int32_t dataLen, unsigned char *out, uint32_t mode) {
  return CodeUnderPassword<des::EncodeStream>(password, data, dataLen, out, mode);
}

extern "C" int32_t COMPATCRYPT_CALL DecodeKey(const unsigned char *password, const unsigned char *data,
                                              int32_t dataLen, unsigned char *out, uint32_t mode) {
  return CodeUnderPassword<des::DecodeStream>(password, data, dataLen, out, mode);
}
