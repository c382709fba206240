// The C library's seven functions (libcompatcrypt.so.1 of the build tree)
// for the tests to compare the package with: each returns [result code,
// Buffer of the output], the code being part of what is compared.
#include <node_api.h>

#include <cstring>
#include <string>
#include <vector>

#include "compatcrypt.h"

namespace {

std::vector<unsigned char> Arg(napi_env env, napi_value value) {
  void *data = nullptr;
  std::size_t size = 0;
  napi_get_buffer_info(env, value, &data, &size);
  const auto *bytes = static_cast<const unsigned char *>(data);
  return std::vector<unsigned char>(bytes, bytes + size);
}

napi_value Result(napi_env env, int32_t code, const unsigned char *out, std::size_t size) {
  napi_value pair, number, buffer;
  void *copy = nullptr;
  napi_create_array_with_length(env, 2, &pair);
  napi_create_int32(env, code, &number);
  static const unsigned char none = 0;
  napi_create_buffer_copy(env, size, size ? out : &none, &copy, &buffer);
  napi_set_element(env, pair, 0, number);
  napi_set_element(env, pair, 1, buffer);
  return pair;
}

napi_value Digest(napi_env env, napi_callback_info info) {
  std::size_t argc = 1;
  napi_value argv[1];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  const auto data = Arg(env, argv[0]);
  unsigned char out[COMPATCRYPT_DIGEST_BYTES];
  int32_t length = 0;
  const int32_t code =
      MessageDigest(data.data(), static_cast<int32_t>(data.size()), out, &length, COMPATCRYPT_MODE);
  return Result(env, code, out, code == COMPATCRYPT_OK ? length : 0);
}

napi_value File(napi_env env, napi_callback_info info) {
  std::size_t argc = 2;
  napi_value argv[2];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  auto path = Arg(env, argv[0]);
  path.push_back(0);
  int32_t offset = 0;
  napi_get_value_int32(env, argv[1], &offset);
  unsigned char out[COMPATCRYPT_DIGEST_BYTES];
  int32_t length = 0;
  const int32_t code = FileDigest(path.data(), offset, out, &length, COMPATCRYPT_MODE);
  return Result(env, code, out, code == COMPATCRYPT_OK ? length : 0);
}

napi_value Keygen(napi_env env, napi_callback_info info) {
  std::size_t argc = 1;
  napi_value argv[1];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  const auto password = Arg(env, argv[0]);
  unsigned char out[COMPATCRYPT_KEY_BYTES];
  int32_t length = 0;
  const int32_t code =
      KeyGenerating(password.data(), static_cast<int32_t>(password.size()), out, &length, COMPATCRYPT_MODE);
  return Result(env, code, out, code == COMPATCRYPT_OK ? length : 0);
}

template <bool kEncode>
napi_value Code(napi_env env, napi_callback_info info) {
  std::size_t argc = 2;
  napi_value argv[2];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  const auto data = Arg(env, argv[0]);
  const auto key = Arg(env, argv[1]);
  std::vector<unsigned char> out(data.size() + 1);
  const auto call = kEncode ? EncodeFunction : DecodeFunction;
  const int32_t code = call(data.data(), static_cast<int32_t>(data.size()), key.data(),
                            static_cast<int32_t>(key.size()), out.data(), COMPATCRYPT_MODE);
  return Result(env, code, out.data(), code == COMPATCRYPT_OK ? data.size() : 0);
}

// encodeKey(data, password): the password's bytes up to the first NUL.
template <bool kEncode>
napi_value PasswordCode(napi_env env, napi_callback_info info) {
  std::size_t argc = 2;
  napi_value argv[2];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  const auto data = Arg(env, argv[0]);
  auto password = Arg(env, argv[1]);
  password.push_back(0);
  std::vector<unsigned char> out(data.size() + 1);
  const auto call = kEncode ? EncodeKey : DecodeKey;
  const int32_t code =
      call(password.data(), data.data(), static_cast<int32_t>(data.size()), out.data(), COMPATCRYPT_MODE);
  return Result(env, code, out.data(), code == COMPATCRYPT_OK ? data.size() : 0);
}

void Define(napi_env env, napi_value exports, const char *name, napi_callback callback) {
  napi_value function;
  napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, nullptr, &function);
  napi_set_named_property(env, exports, name, function);
}

}  // namespace

NAPI_MODULE_INIT() {
  Define(env, exports, "messageDigest", Digest);
  Define(env, exports, "fileDigest", File);
  Define(env, exports, "keyGenerating", Keygen);
  Define(env, exports, "encodeFunction", Code<true>);
  Define(env, exports, "decodeFunction", Code<false>);
  Define(env, exports, "encodeKey", PasswordCode<true>);
  Define(env, exports, "decodeKey", PasswordCode<false>);
  return exports;
}
