// Keys: 16 bytes in native memory behind an external value, wiped when the
// key is destroyed or collected. The rules come from the library: the key
// length, the hex form, the password policy, the bytes in effect and the
// warning text.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "addon.h"

namespace compatcrypt::node {

namespace {

// Tells our externals apart from any other external value.
constexpr napi_type_tag kKeyTag = {0x636f6d7061746372ULL, 0x4b65794b65794b31ULL};

void FinalizeKey(napi_env, void *data, void *) {
  auto *box = static_cast<KeyBox *>(data);
  compatcrypt_bind_wipe(box->bytes, sizeof box->bytes);
  delete box;
}

napi_value NewKey(napi_env env, const uint8_t *bytes) {
  auto *box = new (std::nothrow) KeyBox;
  if (box == nullptr)
    return Throw(env, ErrorKind::range, "ERR_COMPATCRYPT_NO_MEMORY", "cannot allocate a key");
  std::memcpy(box->bytes, bytes, sizeof box->bytes);
  napi_value external;
  if (napi_create_external(env, box, FinalizeKey, nullptr, &external) != napi_ok) {
    FinalizeKey(env, box, nullptr);
    return ThrowStatus(env, napi_generic_failure);
  }
  CC_CALL(env, napi_type_tag_object(env, external, &kKeyTag));
  return external;
}

// A secret's bytes, copied out of a string (UTF-8) or a buffer into memory
// that is wiped when it goes.
class Secret {
 public:
  ~Secret() {
    if (!bytes_.empty()) compatcrypt_bind_wipe(bytes_.data(), bytes_.size());
  }
  bool Read(napi_env env, napi_value value, const char *name) {
    napi_valuetype type;
    if (napi_typeof(env, value, &type) == napi_ok && type == napi_string) {
      std::size_t length = 0;
      if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok) return false;
      bytes_.resize(length + 1);
      if (napi_get_value_string_utf8(env, value, reinterpret_cast<char *>(bytes_.data()), bytes_.size(),
                                     &length) != napi_ok)
        return false;
      size_ = length;
      return true;
    }
    if (!IsBytesKind(env, value)) {
      ThrowArgType(env, value, name, "a string, Buffer, TypedArray, DataView or ArrayBuffer");
      return false;
    }
    Bytes view;
    if (!ReadBytes(env, value, name, &view)) return false;
    bytes_.resize(view.size + 1);
    if (view.size > 0) std::memcpy(bytes_.data(), view.data, view.size);
    size_ = view.size;
    return true;
  }
  const uint8_t *data() const { return bytes_.data(); }
  std::size_t size() const { return size_; }

 private:
  std::vector<uint8_t> bytes_;
  std::size_t size_ = 0;
};

// keyFromBytes(bytes) -> external
napi_value KeyFromBytes(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  Bytes view;
  if (!ReadBytes(env, args[0], "key", &view)) return nullptr;
  // The length is the library's rule.
  const int result = compatcrypt_bind_key_in_effect(view.data, view.size, nullptr, nullptr, nullptr);
  if (result != COMPATCRYPT_BIND_OK)
    return ThrowSurface(env, result, "Key.from: key of " + std::to_string(view.size) + " bytes");
  return NewKey(env, view.data);
}

// keyFromHex(hex) -> external
napi_value KeyFromHex(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  napi_valuetype type;
  CC_CALL(env, napi_typeof(env, args[0], &type));
  if (type != napi_string) return ThrowArgType(env, args[0], "hex", "a string");
  Secret hex;
  if (!hex.Read(env, args[0], "hex")) return ThrowStatus(env, napi_generic_failure);
  uint8_t key[COMPATCRYPT_BIND_KEY_BYTES];
  const int result =
      compatcrypt_bind_key_from_hex(reinterpret_cast<const char *>(hex.data()), hex.size(), key);
  if (result != COMPATCRYPT_BIND_OK) {
    compatcrypt_bind_wipe(key, sizeof key);
    return ThrowSurface(env, result, "Key.fromHex: a string of " + std::to_string(hex.size()) + " bytes");
  }
  napi_value external = NewKey(env, key);
  compatcrypt_bind_wipe(key, sizeof key);
  return external;
}

// keyFromPassword(password, flags, context) -> [external, policy]: the
// key of exactly these bytes, and the library's finding on the password
// (COMPATCRYPT_BIND_OK or _E_PASSWORD_EMPTY; a zero byte in a password
// taken as a NUL-terminated string throws).
napi_value KeyFromPassword(napi_env env, napi_callback_info info) {
  Args<3> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int32_t flags = 0;
  GetInt32(env, args[1], &flags);
  char context[64] = "Key.fromPassword";
  std::size_t ignored = 0;
  napi_get_value_string_utf8(env, args[2], context, sizeof context, &ignored);
  Secret password;
  if (!password.Read(env, args[0], "password")) return nullptr;
  const int policy =
      compatcrypt_bind_password_check(password.data(), password.size(), static_cast<unsigned>(flags));
  if (policy != COMPATCRYPT_BIND_OK && policy != COMPATCRYPT_BIND_E_PASSWORD_EMPTY)
    return ThrowSurface(env, policy, std::string(context) + ": password");
  uint8_t key[COMPATCRYPT_BIND_KEY_BYTES];
  const int result = compatcrypt_bind_key_from_password(password.data(), password.size(), key);
  if (result != COMPATCRYPT_BIND_OK) {
    compatcrypt_bind_wipe(key, sizeof key);
    return ThrowSurface(env, result, std::string(context) + ": password");
  }
  napi_value external = NewKey(env, key);
  compatcrypt_bind_wipe(key, sizeof key);
  if (external == nullptr) return nullptr;
  napi_value pair, code;
  CC_CALL(env, napi_create_array_with_length(env, 2, &pair));
  CC_CALL(env, napi_create_int32(env, policy, &code));
  CC_CALL(env, napi_set_element(env, pair, 0, external));
  CC_CALL(env, napi_set_element(env, pair, 1, code));
  return pair;
}

napi_value KeyInEffect(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  KeyBox *box = ReadKey(env, args[0], "key.bytesInEffect");
  if (box == nullptr) return nullptr;
  int outer = 0, middle = 0;
  const int result = compatcrypt_bind_key_in_effect(box->bytes, sizeof box->bytes, &outer, &middle, nullptr);
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env, result, "key.bytesInEffect");
  napi_value pair, a, b;
  CC_CALL(env, napi_create_array_with_length(env, 2, &pair));
  CC_CALL(env, napi_create_int32(env, outer, &a));
  CC_CALL(env, napi_create_int32(env, middle, &b));
  CC_CALL(env, napi_set_element(env, pair, 0, a));
  CC_CALL(env, napi_set_element(env, pair, 1, b));
  return pair;
}

napi_value KeyWarning(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  KeyBox *box = ReadKey(env, args[0], "key.warning");
  if (box == nullptr) return nullptr;
  char text[256];
  const int length = compatcrypt_bind_key_warning(box->bytes, sizeof box->bytes, text, sizeof text);
  if (length < 0) return ThrowSurface(env, length, "key.warning");
  napi_value value;
  CC_CALL(env, napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &value));
  return value;
}

napi_value KeyExport(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  KeyBox *box = ReadKey(env, args[0], "key.export");
  if (box == nullptr) return nullptr;
  napi_value buffer;
  if (!CopyBuffer(env, box->bytes, sizeof box->bytes, &buffer)) return nullptr;
  return buffer;
}

// Compared without stopping at the first difference: keys are secrets.
napi_value KeyEquals(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  KeyBox *a = ReadKey(env, args[0], "key.equals");
  if (a == nullptr) return nullptr;
  KeyBox *b = ReadKey(env, args[1], "key.equals");
  if (b == nullptr) return nullptr;
  unsigned difference = 0;
  for (std::size_t i = 0; i < sizeof a->bytes; ++i) difference |= a->bytes[i] ^ b->bytes[i];
  napi_value result;
  CC_CALL(env, napi_get_boolean(env, difference == 0, &result));
  return result;
}

napi_value KeyDestroy(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  bool tagged = false;
  void *data = nullptr;
  if (napi_check_object_type_tag(env, args[0], &kKeyTag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, args[0], &data) != napi_ok)
    return ThrowArgType(env, args[0], "key", "a compatcrypt Key");
  auto *box = static_cast<KeyBox *>(data);
  compatcrypt_bind_wipe(box->bytes, sizeof box->bytes);
  box->destroyed = true;
  return nullptr;
}

}  // namespace

KeyBox *ReadKey(napi_env env, napi_value value, const char *function) {
  bool tagged = false;
  void *data = nullptr;
  if (napi_check_object_type_tag(env, value, &kKeyTag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, value, &data) != napi_ok) {
    ThrowArgType(env, value, "key", "a compatcrypt Key");
    return nullptr;
  }
  auto *box = static_cast<KeyBox *>(data);
  if (box->destroyed) {
    Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_KEY_DESTROYED",
          std::string(function) + ": the key was destroyed (key.destroy())");
    return nullptr;
  }
  return box;
}

bool InitKeys(napi_env env, napi_value exports) {
  return SetFunction(env, exports, "keyFromBytes", KeyFromBytes) &&
         SetFunction(env, exports, "keyFromHex", KeyFromHex) &&
         SetFunction(env, exports, "keyFromPassword", KeyFromPassword) &&
         SetFunction(env, exports, "keyInEffect", KeyInEffect) &&
         SetFunction(env, exports, "keyWarning", KeyWarning) &&
         SetFunction(env, exports, "keyExport", KeyExport) &&
         SetFunction(env, exports, "keyEquals", KeyEquals) &&
         SetFunction(env, exports, "keyDestroy", KeyDestroy);
}

}  // namespace compatcrypt::node
