// Errors, arguments and buffers: the addon's side of Node-API.
#include <cstring>

#include "addon.h"

namespace compatcrypt::node {

namespace {

napi_value String(napi_env env, const std::string &text) {
  napi_value value = nullptr;
  napi_create_string_utf8(env, text.data(), text.size(), &value);
  return value;
}

std::size_t ElementBytes(napi_typedarray_type type) {
  switch (type) {
    case napi_int8_array:
    case napi_uint8_array:
    case napi_uint8_clamped_array:
      return 1;
    case napi_int16_array:
    case napi_uint16_array:
      return 2;
    case napi_int32_array:
    case napi_uint32_array:
    case napi_float32_array:
      return 4;
    case napi_float64_array:
    case napi_bigint64_array:
    case napi_biguint64_array:
      return 8;
  }
  return 0;
}

// What a value is, without its value: "type string", "an Array", "null".
std::string Describe(napi_env env, napi_value value) {
  napi_valuetype type = napi_undefined;
  if (napi_typeof(env, value, &type) != napi_ok) return "an unknown value";
  switch (type) {
    case napi_undefined:
      return "undefined";
    case napi_null:
      return "null";
    case napi_boolean:
      return "type boolean";
    case napi_number:
      return "type number";
    case napi_string:
      return "type string";
    case napi_symbol:
      return "type symbol";
    case napi_bigint:
      return "type bigint";
    case napi_function:
      return "a function";
    case napi_external:
      return "an external value";
    case napi_object:
      break;
  }
  bool is = false;
  if (napi_is_array(env, value, &is) == napi_ok && is) return "an Array";
  if (napi_is_promise(env, value, &is) == napi_ok && is) return "a Promise";
  return "an object";
}

}  // namespace

napi_value MakeError(napi_env env, ErrorKind kind, const char *code, const std::string &message) {
  napi_value error = nullptr;
  const napi_value codeValue = String(env, code);
  const napi_value text = String(env, message);
  switch (kind) {
    case ErrorKind::error:
      napi_create_error(env, codeValue, text, &error);
      break;
    case ErrorKind::type:
      napi_create_type_error(env, codeValue, text, &error);
      break;
    case ErrorKind::range:
      napi_create_range_error(env, codeValue, text, &error);
      break;
  }
  return error;
}

napi_value Throw(napi_env env, ErrorKind kind, const char *code, const std::string &message) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return nullptr;
  napi_throw(env, MakeError(env, kind, code, message));
  return nullptr;
}

napi_value SurfaceError(napi_env env, int result, const std::string &context) {
  return ResultError(env, result, context + ": " + compatcrypt_bind_message(result));
}

napi_value ResultError(napi_env env, int result, const std::string &message) {
  switch (result) {
    case COMPATCRYPT_BIND_E_KEY_LENGTH:
      return MakeError(env, ErrorKind::range, "ERR_COMPATCRYPT_KEY_LENGTH", message);
    case COMPATCRYPT_BIND_E_KEY_HEX:
      return MakeError(env, ErrorKind::type, "ERR_COMPATCRYPT_KEY_HEX", message);
    case COMPATCRYPT_BIND_E_PASSWORD_NUL:
      return MakeError(env, ErrorKind::type, "ERR_COMPATCRYPT_PASSWORD_NUL", message);
    case COMPATCRYPT_BIND_E_PASSWORD_EMPTY:
      return MakeError(env, ErrorKind::error, "ERR_COMPATCRYPT_PASSWORD_EMPTY", message);
    case COMPATCRYPT_BIND_E_NO_MEMORY:
      return MakeError(env, ErrorKind::range, "ERR_COMPATCRYPT_NO_MEMORY", message);
    case COMPATCRYPT_BIND_E_FILE:
      return MakeError(env, ErrorKind::error, "ERR_COMPATCRYPT_FILE", message);
    case COMPATCRYPT_BIND_E_OUTPUT_SIZE:
      return MakeError(env, ErrorKind::range, "ERR_COMPATCRYPT_OUTPUT_SIZE", message);
    case COMPATCRYPT_BIND_E_STATE:
      return MakeError(env, ErrorKind::error, "ERR_COMPATCRYPT_STATE", message);
    default:
      return MakeError(env, ErrorKind::error, "ERR_COMPATCRYPT_INTERNAL", message);
  }
}

napi_value ThrowSurface(napi_env env, int result, const std::string &context) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return nullptr;
  napi_throw(env, SurfaceError(env, result, context));
  return nullptr;
}

napi_value ThrowStatus(napi_env env, napi_status status) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return nullptr;
  const napi_extended_error_info *info = nullptr;
  std::string message = "Node-API call failed";
  if (napi_get_last_error_info(env, &info) == napi_ok && info != nullptr && info->error_message != nullptr)
    message += std::string(": ") + info->error_message;
  if (status == napi_generic_failure || status == napi_pending_exception) message += " (out of memory?)";
  return Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_INTERNAL", message);
}

napi_value ThrowArgType(napi_env env, napi_value value, const char *name, const char *expected) {
  return Throw(env, ErrorKind::type, "ERR_INVALID_ARG_TYPE",
               std::string("The \"") + name + "\" argument must be " + expected + "; received " +
                   Describe(env, value));
}

bool IsBytesKind(napi_env env, napi_value value) {
  bool is = false;
  if (napi_is_typedarray(env, value, &is) == napi_ok && is) return true;
  if (napi_is_dataview(env, value, &is) == napi_ok && is) return true;
  return napi_is_arraybuffer(env, value, &is) == napi_ok && is;
}

bool ReadBytes(napi_env env, napi_value value, const char *name, Bytes *out) {
  bool is = false;
  void *data = nullptr;
  std::size_t size = 0;
  napi_value buffer = nullptr;
  std::size_t offset = 0;
  if (napi_is_typedarray(env, value, &is) == napi_ok && is) {
    napi_typedarray_type type;
    std::size_t length = 0;
    if (napi_get_typedarray_info(env, value, &type, &length, &data, &buffer, &offset) != napi_ok) {
      ThrowStatus(env, napi_generic_failure);
      return false;
    }
    size = length * ElementBytes(type);
  } else if (napi_is_dataview(env, value, &is) == napi_ok && is) {
    if (napi_get_dataview_info(env, value, &size, &data, &buffer, &offset) != napi_ok) {
      ThrowStatus(env, napi_generic_failure);
      return false;
    }
  } else if (napi_is_arraybuffer(env, value, &is) == napi_ok && is) {
    buffer = value;
    if (napi_get_arraybuffer_info(env, value, &data, &size) != napi_ok) {
      ThrowStatus(env, napi_generic_failure);
      return false;
    }
  } else {
    bool shared = false;
    napi_value global, constructor;
    // A SharedArrayBuffer itself is no ArrayBuffer to Node-API.
    if (napi_get_global(env, &global) == napi_ok &&
        napi_get_named_property(env, global, "SharedArrayBuffer", &constructor) == napi_ok)
      napi_instanceof(env, value, constructor, &shared);
    napi_value ignored;
    napi_get_and_clear_last_exception(env, &ignored);
    if (shared) {
      Throw(env, ErrorKind::type, "ERR_INVALID_ARG_TYPE",
            std::string("The \"") + name +
                "\" argument must not be a SharedArrayBuffer: copy its bytes into an ArrayBuffer first");
      return false;
    }
    ThrowArgType(env, value, name, "a Buffer, TypedArray, DataView or ArrayBuffer");
    return false;
  }
  // A view's buffer: an ArrayBuffer, or a SharedArrayBuffer that other
  // threads may write while the bytes are read.
  bool plain = false;
  if (napi_is_arraybuffer(env, buffer, &plain) != napi_ok || !plain) {
    Throw(env, ErrorKind::type, "ERR_INVALID_ARG_TYPE",
          std::string("The \"") + name +
              "\" argument must not be a view of a SharedArrayBuffer: copy its bytes into an ArrayBuffer "
              "first");
    return false;
  }
  bool detached = false;
  if (napi_is_detached_arraybuffer(env, buffer, &detached) == napi_ok && detached) {
    Throw(
        env, ErrorKind::type, "ERR_COMPATCRYPT_DETACHED",
        std::string("The \"") + name + "\" argument's ArrayBuffer is detached (transferred or resized away)");
    return false;
  }
  out->data = static_cast<uint8_t *>(data);
  out->size = size;
  out->arraybuffer = buffer;
  return true;
}

bool NewBuffer(napi_env env, std::size_t size, napi_value *buffer, uint8_t **data) {
  void *memory = nullptr;
  const napi_status status = napi_create_buffer(env, size, &memory, buffer);
  if (status != napi_ok) {
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending)
      Throw(env, ErrorKind::range, "ERR_COMPATCRYPT_NO_MEMORY",
            "cannot allocate a Buffer of " + std::to_string(size) + " bytes");
    return false;
  }
  *data = static_cast<uint8_t *>(memory);
  return true;
}

bool CopyBuffer(napi_env env, const void *bytes, std::size_t size, napi_value *buffer) {
  uint8_t *data = nullptr;
  if (!NewBuffer(env, size, buffer, &data)) return false;
  if (size > 0) std::memcpy(data, bytes, size);
  return true;
}

bool GetInt32(napi_env env, napi_value value, int32_t *out) {
  return napi_get_value_int32(env, value, out) == napi_ok;
}

bool SetFunction(napi_env env, napi_value exports, const char *name, napi_callback callback, void *data) {
  napi_value function;
  if (napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, data, &function) != napi_ok) return false;
  return napi_set_named_property(env, exports, name, function) == napi_ok;
}

bool CanRunJavaScript(napi_env env) {
  AddonData *data = DataOf(env);
  napi_value noop, global, result;
  if (data == nullptr || napi_get_reference_value(env, data->noop, &noop) != napi_ok || noop == nullptr ||
      napi_get_global(env, &global) != napi_ok)
    return false;
  if (napi_call_function(env, global, noop, 0, nullptr, &result) == napi_ok) return true;
  napi_value ignored;
  napi_get_and_clear_last_exception(env, &ignored);
  return false;
}

}  // namespace compatcrypt::node
