// Differential password-key target: KeyGenerating of any password bytes
// (zero bytes included; a negative length counts as none) must equal the
// model's key, and EncodeKey and DecodeKey under a NUL-terminated password
// must equal the model coder under the model's key of that password, in
// separate buffers and in place.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "compatcrypt.h"
#include "fuzz_input.h"
#include "support/openssl_models.h"

namespace {

using compatcrypt::fuzz::FuzzInput;
using Bytes = std::vector<unsigned char>;

using KeyCall = int32_t (*)(const unsigned char *, const unsigned char *, int32_t, unsigned char *, uint32_t);

Bytes CallBoth(KeyCall call, const Bytes &password, const Bytes &data) {
  const int32_t n = static_cast<int32_t>(data.size());
  Bytes out(data.size() + 1, 0xEE);
  COMPATCRYPT_FUZZ_CHECK(call(password.data(), data.data(), n, out.data(), COMPATCRYPT_MODE) ==
                         COMPATCRYPT_OK);
  COMPATCRYPT_FUZZ_CHECK(out.back() == 0xEE);
  out.pop_back();
  Bytes inPlace = data;
  COMPATCRYPT_FUZZ_CHECK(call(password.data(), inPlace.data(), n, inPlace.data(), COMPATCRYPT_MODE) ==
                         COMPATCRYPT_OK);
  COMPATCRYPT_FUZZ_CHECK(inPlace == out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  // The first byte's low six bits are the password length, up to 63 bytes
  // (or 64 more when bit 6 is set); the rest is data.
  std::size_t passwordLen = (flags & 63) + ((flags & 64) ? 64 : 0);
  Bytes password;
  for (std::size_t i = 0; i < passwordLen; ++i) password.push_back(in.Byte());
  const Bytes message = in.Rest();

  const Bytes modelKey = compatcrypt::test::ModelPasswordKey(password);
  unsigned char key[17];
  key[16] = 0xEE;
  int32_t outLen = 0;
  COMPATCRYPT_FUZZ_CHECK(KeyGenerating(password.data(), static_cast<int32_t>(password.size()), key, &outLen,
                                       COMPATCRYPT_MODE) == COMPATCRYPT_OK);
  COMPATCRYPT_FUZZ_CHECK(outLen == 16 && key[16] == 0xEE);
  COMPATCRYPT_FUZZ_CHECK(Bytes(key, key + 16) == modelKey);
  if (flags & 128) {
    // A negative length is the empty password.
    outLen = 0;
    COMPATCRYPT_FUZZ_CHECK(KeyGenerating(password.data(), -1 - static_cast<int32_t>(password.size()), key,
                                         &outLen, COMPATCRYPT_MODE) == COMPATCRYPT_OK);
    COMPATCRYPT_FUZZ_CHECK(outLen == 16);
    COMPATCRYPT_FUZZ_CHECK(Bytes(key, key + 16) == compatcrypt::test::ModelPasswordKey(Bytes()));
  }

  // The NUL-terminated password: the bytes before the first zero.
  Bytes text(password.begin(), std::find(password.begin(), password.end(), 0));
  const Bytes textKey = compatcrypt::test::ModelPasswordKey(text);
  text.push_back(0);
  const Bytes encoded = compatcrypt::test::ModelEncode(message, textKey.data());
  COMPATCRYPT_FUZZ_CHECK(CallBoth(EncodeKey, text, message) == encoded);
  COMPATCRYPT_FUZZ_CHECK(CallBoth(DecodeKey, text, message) ==
                         compatcrypt::test::ModelDecode(message, textKey.data()));
  COMPATCRYPT_FUZZ_CHECK(CallBoth(DecodeKey, text, encoded) == message);
  return 0;
}
