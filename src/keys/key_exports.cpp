// KeyGenerating, EncodeKey and DecodeKey. The password-keyed exports run the
// buffer exports in-process under the derived key, with mode 1, and turn any
// result but success into their own failure code.
#include <cstring>

#include "compatcrypt.h"
#include "frame/frame.h"
#include "keys/password_key.h"
#include "support/secure_wipe.h"

using namespace compatcrypt;

extern "C" int32_t KeyGenerating(const unsigned char *password, int32_t passwordLen, unsigned char *out,
                                 int32_t *outLen, uint32_t mode) {
  return frame::RunExport(mode, frame::kError, [&] {
    frame::RequireBytes(password, passwordLen);
    frame::Require(out != nullptr && outLen != nullptr);
    keys::DerivePasswordKey(password, passwordLen, out, outLen);
    return frame::kOk;
  });
}

namespace {

using BufferExport = int32_t (*)(const unsigned char *, int32_t, const unsigned char *, int32_t,
                                 unsigned char *, uint32_t);

int32_t RunUnderPassword(BufferExport coder, const unsigned char *password, const unsigned char *data,
                         int32_t dataLen, unsigned char *out, uint32_t mode) {
  return frame::RunExport(mode, frame::kFailed, [&] {
    frame::Require(password != nullptr);
    const auto length = std::strlen(reinterpret_cast<const char *>(password));
    frame::Require(length <= INT32_MAX);
    unsigned char key[keys::kDerivedKeySize];
    int32_t keyLen = 0;
    keys::DerivePasswordKey(password, static_cast<int32_t>(length), key, &keyLen);
    const int32_t result = coder(data, dataLen, key, keys::kDerivedKeySize, out, COMPATCRYPT_MODE);
    SecureWipe(key);
    return result == frame::kOk ? frame::kOk : frame::kFailed;
  });
}

}  // namespace

extern "C" int32_t EncodeKey(const unsigned char *password, const unsigned char *data, int32_t dataLen,
                             unsigned char *out, uint32_t mode) {
  return RunUnderPassword(EncodeFunction, password, data, dataLen, out, mode);
}

extern "C" int32_t DecodeKey(const unsigned char *password, const unsigned char *data, int32_t dataLen,
                             unsigned char *out, uint32_t mode) {
  return RunUnderPassword(DecodeFunction, password, data, dataLen, out, mode);
}
