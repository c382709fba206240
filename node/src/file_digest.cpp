#include <cstring>

#include "file_error.h"

namespace compatcrypt::node {

bool ReadPath(napi_env env, napi_value value, std::string *path) {
  napi_valuetype type;
  if (napi_typeof(env, value, &type) != napi_ok) return false;
  if (type == napi_string) {
    std::size_t length = 0;
    if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok) return false;
    path->resize(length + 1);
    napi_get_value_string_utf8(env, value, path->data(), path->size(), &length);
    path->resize(length);
  } else if (IsBytesKind(env, value)) {
    Bytes bytes;
    if (!ReadBytes(env, value, "path", &bytes)) return false;
    path->assign(reinterpret_cast<const char *>(bytes.data), bytes.size);
  } else {
    ThrowArgType(env, value, "path", "a string, Buffer or URL");
    return false;
  }
  if (path->find('\0') != std::string::npos) {
    Throw(env, ErrorKind::type, "ERR_INVALID_ARG_VALUE",
          "The \"path\" argument must be a string, Buffer or URL without null bytes");
    return false;
  }
  return true;
}

bool ReadFileOffset(napi_env env, napi_value value, int64_t *offset) {
  napi_valuetype type;
  if (napi_typeof(env, value, &type) != napi_ok) return false;
  if (type == napi_bigint) {
    bool lossless = false;
    if (napi_get_value_bigint_int64(env, value, offset, &lossless) != napi_ok) return false;
    if (lossless && *offset >= 0) return true;
  } else if (type == napi_number) {
    double number = 0;
    napi_get_value_double(env, value, &number);
    // Whole numbers up to 2^53 - 1 (Number.MAX_SAFE_INTEGER).
    if (number >= 0 && number <= 9007199254740991.0 &&
        number == static_cast<double>(static_cast<int64_t>(number))) {
      *offset = static_cast<int64_t>(number);
      return true;
    }
  } else {
    ThrowArgType(env, value, "offset", "a number or a bigint");
    return false;
  }
  Throw(env, ErrorKind::range, "ERR_OUT_OF_RANGE",
        "The value of \"offset\" is out of range: it must be a whole number from 0 to 2^63 - 1");
  return false;
}

FileRead::~FileRead() {
  if (file_ != nullptr) compatcrypt_bind_file_destroy(file_);
}

bool FileRead::Open(const std::string &path, int64_t offset) {
  result = compatcrypt_bind_file_new(&file_);
  if (result == COMPATCRYPT_BIND_OK)
    result = compatcrypt_bind_file_open(file_, path.c_str(), offset, &osError);
  return result == COMPATCRYPT_BIND_OK;
}

bool FileRead::Step(std::size_t piece) {
  if (result != COMPATCRYPT_BIND_OK) return true;
  int done = 0;
  result = compatcrypt_bind_file_read(file_, piece, &done, &osError);
  if (result == COMPATCRYPT_BIND_OK && done) result = compatcrypt_bind_file_finish(file_, digest);
  return result != COMPATCRYPT_BIND_OK || done;
}

void FileRead::Run(const std::string &path, int64_t offset, std::size_t piece) {
  if (!Open(path, offset)) return;
  while (!Step(piece)) {
  }
}

napi_value FileError(napi_env env, int result, int osError, const std::string &path, const char *context) {
  std::string message = std::string(context) + ": " + compatcrypt_bind_message(result);
  if (result == COMPATCRYPT_BIND_E_FILE) {
    message += " '" + path + "'";
    if (osError != 0) message += std::string(": ") + std::strerror(osError);
  }
  napi_value error = ResultError(env, result, message);
  napi_value pathValue, errnoValue;
  if (result == COMPATCRYPT_BIND_E_FILE) {
    napi_create_string_utf8(env, path.data(), path.size(), &pathValue);
    napi_set_named_property(env, error, "path", pathValue);
    if (osError != 0) {
      // Negative, as Node's own system errors give it.
      napi_create_int32(env, -osError, &errnoValue);
      napi_set_named_property(env, error, "errno", errnoValue);
    }
  }
  return error;
}

}  // namespace compatcrypt::node
