#include "records.h"

#include <cmath>
#include <cstring>
#include <string>

namespace compatcrypt::node {

namespace {

bool Bad(napi_env env, const std::string &message) {
  Throw(env, ErrorKind::range, "ERR_COMPATCRYPT_OFFSETS", message);
  return false;
}

}  // namespace

bool ReadOffsets(napi_env env, napi_value value, std::size_t dataSize, std::vector<std::size_t> *out) {
  bool is = false;
  if (napi_is_typedarray(env, value, &is) != napi_ok || !is) {
    ThrowArgType(
        env, value, "offsets",
        "an Array of integers, Int32Array, Uint32Array, BigInt64Array, BigUint64Array or Float64Array");
    return false;
  }
  napi_typedarray_type type;
  std::size_t count = 0, offset = 0;
  void *data = nullptr;
  napi_value buffer;
  if (napi_get_typedarray_info(env, value, &type, &count, &data, &buffer, &offset) != napi_ok) {
    ThrowStatus(env, napi_generic_failure);
    return false;
  }
  if (count == 0) return Bad(env, "offsets must hold n + 1 values for n records, not none");
  out->resize(count);
  // Read with memcpy: a view may start at any byte of its buffer.
  const auto *bytes = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < count; ++i) {
    long double number = 0;
    switch (type) {
      case napi_int32_array: {
        int32_t v;
        std::memcpy(&v, bytes + 4 * i, 4);
        number = v;
        break;
      }
      case napi_uint32_array: {
        uint32_t v;
        std::memcpy(&v, bytes + 4 * i, 4);
        number = v;
        break;
      }
      case napi_bigint64_array: {
        int64_t v;
        std::memcpy(&v, bytes + 8 * i, 8);
        number = static_cast<long double>(v);
        break;
      }
      case napi_biguint64_array: {
        uint64_t v;
        std::memcpy(&v, bytes + 8 * i, 8);
        number = static_cast<long double>(v);
        break;
      }
      case napi_float64_array: {
        double v;
        std::memcpy(&v, bytes + 8 * i, 8);
        if (!std::isfinite(v) || v != std::floor(v))
          return Bad(env, "offsets[" + std::to_string(i) + "] is not a whole number");
        number = v;
        break;
      }
      default:
        ThrowArgType(
            env, value, "offsets",
            "an Array of integers, Int32Array, Uint32Array, BigInt64Array, BigUint64Array or Float64Array");
        return false;
    }
    if (number < 0) return Bad(env, "offsets[" + std::to_string(i) + "] is negative");
    if (number > static_cast<long double>(dataSize))
      return Bad(env, "offsets[" + std::to_string(i) + "] lies past the " + std::to_string(dataSize) +
                          " bytes of data");
    (*out)[i] = static_cast<std::size_t>(number);
    if (i > 0 && (*out)[i] < (*out)[i - 1])
      return Bad(env, "offsets must not decrease: offsets[" + std::to_string(i) + "] < offsets[" +
                          std::to_string(i - 1) + "]");
  }
  return true;
}

bool ReadRecordList(napi_env env, napi_value list, std::vector<Bytes> *out) {
  bool is = false;
  if (napi_is_array(env, list, &is) != napi_ok || !is) {
    ThrowArgType(env, list, "records", "an Array of Buffers, TypedArrays, DataViews or ArrayBuffers");
    return false;
  }
  uint32_t count = 0;
  if (napi_get_array_length(env, list, &count) != napi_ok) {
    ThrowStatus(env, napi_generic_failure);
    return false;
  }
  out->resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    napi_value item;
    if (napi_get_element(env, list, i, &item) != napi_ok) {
      ThrowStatus(env, napi_generic_failure);
      return false;
    }
    const std::string name = "records[" + std::to_string(i) + "]";
    if (!ReadBytes(env, item, name.c_str(), &(*out)[i])) return false;
  }
  return true;
}

}  // namespace compatcrypt::node
