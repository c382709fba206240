// compatcrypt.Key: a 16-byte cipher key, from bytes, hex or a password.
// The bytes never appear in its repr; a pickled Key holds them, since a
// Dask task must carry the key to the worker that codes with it.
//
// The key rules are the library's (compatcrypt_bind.h): a key whose zero
// byte cuts one of its DES keys, and an empty password, are reported with
// compatcrypt.WeakKeyWarning and the library's own text; bytes_in_effect
// is the library's count. Nothing is refused that codes today.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"
#include "compatcrypt_bind.h"
#include "errors.h"

namespace compatcrypt::python {

namespace {

const std::uint8_t *Raw(const Key &key) { return reinterpret_cast<const std::uint8_t *>(key.bytes().data()); }

// A key made by the caller: warned about when a zero byte cuts it.
Key Checked(const Key &key) {
  char message[128];
  if (compatcrypt_bind_key_warning(Raw(key), kKeySize, message, sizeof message) > 0) WarnWeakKey(message);
  return key;
}

Key FromBytes(py::handle data) {
  const BufferView view(data, "key");
  if (view.size() != kKeySize)
    throw py::value_error("key must be 16 bytes, not " + std::to_string(view.size()));
  return Key(view.bytes().first<kKeySize>());
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Checked here so that a malformed hex key is a ValueError, as in
// bytes.fromhex(), rather than the library's RESULT_FAILED.
Key FromHex(const std::string &hex) {
  if (hex.size() != 2 * kKeySize)
    throw py::value_error("key must be 32 hex digits, not " + std::to_string(hex.size()) + " characters");
  for (std::size_t i = 0; i < hex.size(); ++i)
    if (!IsHexDigit(hex[i]))
      throw py::value_error("key must be 32 hex digits: not one at position " + std::to_string(i));
  return Checked(Key::from_hex(hex));
}

// A str password counts as its UTF-8 bytes; a bytes-like one as it is.
// Every byte counts, a zero byte too, as KeyGenerating takes them: the
// password is a length and bytes here, never a C string, so the library's
// policy is asked without COMPATCRYPT_BIND_PASSWORD_STRING.
Key FromPassword(py::handle password) {
  std::string_view bytes;
  std::optional<BufferView> view;
  if (PyUnicode_Check(password.ptr())) {
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(password.ptr(), &size);
    if (utf8 == nullptr) {
      // Python's own message would quote the character: a part of the
      // password.
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw py::error_already_set();
      PyErr_Clear();
      throw py::value_error(
          "password: a str password must be encodable as UTF-8 (it holds a lone surrogate); "
          "pass its bytes instead");
    }
    bytes = std::string_view(utf8, static_cast<std::size_t>(size));
  } else {
    view.emplace(password, "password");
    bytes = std::string_view(reinterpret_cast<const char *>(view->bytes().data()), view->size());
  }
  const int policy = compatcrypt_bind_password_check(bytes.data(), bytes.size(), 0);
  if (policy != COMPATCRYPT_BIND_OK) WarnWeakKey(compatcrypt_bind_message(policy));
  return Checked(Key::from_password(bytes));
}

// Compared without stopping at the first difference: keys are secrets.
bool Equal(const Key &a, const Key &b) {
  unsigned difference = 0;
  for (std::size_t i = 0; i < kKeySize; ++i)
    difference |= std::to_integer<unsigned>(a.bytes()[i] ^ b.bytes()[i]);
  return difference == 0;
}

int BytesInEffect(const Key &key) {
  int outer = 0, middle = 0;
  compatcrypt_bind_key_in_effect(Raw(key), kKeySize, &outer, &middle, nullptr);
  return outer + middle;
}

}  // namespace

void BindKeys(py::module_ &module) {
  module.attr("KEY_SIZE") = kKeySize;

  py::class_<Key>(module, "Key",
                  "Key(key)\n\n"
                  "A 16-byte cipher key: the even-numbered bytes form the outer DES key, the\n"
                  "odd-numbered ones the middle key, each read up to its first zero byte.\n"
                  "Made from 16 bytes (any bytes-like object), from_hex() or from_password();\n"
                  "a key that a zero byte cuts, and an empty password, give\n"
                  "compatcrypt.WeakKeyWarning. Immutable and hashable; equal keys have equal\n"
                  "bytes. The repr never shows the bytes; bytes(key) and key.hex() do, and\n"
                  "so does a pickled key: a pickled key is the secret itself.")
      .def(py::init([](py::handle data) { return Checked(FromBytes(data)); }), py::arg("key"))
      .def_static("from_hex", &FromHex, py::arg("hex"),
                  "The key written as exactly 32 hex digits of either case (ValueError otherwise).")
      .def_static("from_password", &FromPassword, py::arg("password"),
                  "The key derived from a password (str, as UTF-8, or bytes-like), as\n"
                  "KeyGenerating derives it from exactly these bytes, zero bytes included.\n"
                  "An empty password gives WeakKeyWarning: its key is public.")
      // The bytes of a pickle, made into a key again without a second
      // warning: whoever made the key was told already.
      .def_static("_from_pickle", &FromBytes, py::arg("key"))
      .def_property_readonly("bytes_in_effect", &BytesInEffect,
                             "How many of the 16 key bytes the cipher uses: 16, unless a zero byte\n"
                             "cuts the outer key (the even-numbered bytes) or the middle key (the\n"
                             "odd-numbered ones), after which that key's bytes count as zero.")
      .def(
          "__bytes__", [](const Key &key) { return ToBytes(key.bytes()); }, "The 16 key bytes.")
      .def("hex", &Key::to_hex, "The key as 32 lower-case hex digits.")
      .def("__eq__", &Equal, py::is_operator())
      .def("__hash__", [](const Key &key) { return py::hash(ToBytes(key.bytes())); })
      .def("__repr__", [](const Key &) { return std::string("<compatcrypt.Key (16 bytes, not shown)>"); })
      // Made again from its bytes, under every pickle protocol (0 and 1
      // included, which would otherwise make an instance without __init__).
      .def("__reduce_ex__", [](const Key &key, py::handle) {
        return py::make_tuple(py::module_::import("compatcrypt").attr("_key_from_pickle"),
                              py::make_tuple(ToBytes(key.bytes())));
      });
}

}  // namespace compatcrypt::python
