// Fuzzes the encoded-buffer format: for any key and input, decoding undoes
// encoding, in place and in separate buffers alike, and the password-keyed
// functions equal the buffer functions under the derived key.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compatcrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 17) return 0;
  const unsigned char *key = data;
  // Byte 16 picks a short password from the input's end; the rest is data.
  const size_t passwordLen = data[16] % 9;
  if (size < 17 + passwordLen) return 0;
  std::vector<unsigned char> password(data + size - passwordLen, data + size);
  for (auto &b : password) b = b == 0 ? 1 : b;
  password.push_back(0);
  const std::vector<unsigned char> plain(data + 17, data + size - passwordLen);
  const int32_t n = static_cast<int32_t>(plain.size());

  std::vector<unsigned char> encoded(plain.size()), decoded(plain.size());
  if (EncodeFunction(plain.data(), n, key, 16, encoded.data(), 1) != 1) std::abort();
  if (DecodeFunction(encoded.data(), n, key, 16, decoded.data(), 1) != 1) std::abort();
  if (decoded != plain) std::abort();
  std::vector<unsigned char> inPlace = encoded;
  if (DecodeFunction(inPlace.data(), n, key, 16, inPlace.data(), 1) != 1 || inPlace != plain) std::abort();

  unsigned char derived[16];
  int32_t derivedLen = 0;
  if (KeyGenerating(password.data(), static_cast<int32_t>(passwordLen), derived, &derivedLen, 1) != 1)
    std::abort();
  std::vector<unsigned char> viaKey(plain.size()), viaPassword(plain.size());
  if (EncodeFunction(plain.data(), n, derived, 16, viaKey.data(), 1) != 1) std::abort();
  if (EncodeKey(password.data(), plain.data(), n, viaPassword.data(), 1) != 1) std::abort();
  if (viaKey != viaPassword) std::abort();
  return 0;
}
