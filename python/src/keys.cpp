// compatcrypt.Key: a 16-byte cipher key, from bytes, hex or a password.
// The bytes never appear in its repr; a pickled Key holds them, since a
// Dask task must carry the key to the worker that codes with it.
#include <cstdint>
#include <string>
#include <string_view>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"

namespace compatcrypt::python {

namespace {

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
  return Key::from_hex(hex);
}

// A str password counts as its UTF-8 bytes; a bytes-like one as it is.
Key FromPassword(py::handle password) {
  if (PyUnicode_Check(password.ptr())) {
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(password.ptr(), &size);
    if (utf8 == nullptr) throw py::error_already_set();
    return Key::from_password(std::string_view(utf8, static_cast<std::size_t>(size)));
  }
  const BufferView view(password, "password");
  return Key::from_password(
      std::string_view(reinterpret_cast<const char *>(view.bytes().data()), view.size()));
}

// Compared without stopping at the first difference: keys are secrets.
bool Equal(const Key &a, const Key &b) {
  unsigned difference = 0;
  for (std::size_t i = 0; i < kKeySize; ++i)
    difference |= std::to_integer<unsigned>(a.bytes()[i] ^ b.bytes()[i]);
  return difference == 0;
}

}  // namespace

void BindKeys(py::module_ &module) {
  module.attr("KEY_SIZE") = kKeySize;

  py::class_<Key>(module, "Key",
                  "Key(key)\n\n"
                  "A 16-byte cipher key: the even-numbered bytes form the outer DES key, the\n"
                  "odd-numbered ones the middle key, each read up to its first zero byte.\n"
                  "Made from 16 bytes (any bytes-like object), from_hex() or from_password().\n"
                  "Immutable and hashable; equal keys have equal bytes. The repr never shows\n"
                  "the bytes; bytes(key) and key.hex() do, and so does a pickled key.")
      .def(py::init(&FromBytes), py::arg("key"))
      .def_static("from_hex", &FromHex, py::arg("hex"),
                  "The key written as exactly 32 hex digits of either case (ValueError otherwise).")
      .def_static("from_password", &FromPassword, py::arg("password"),
                  "The key derived from a password (str, as UTF-8, or bytes-like), as\n"
                  "KeyGenerating derives it from exactly these bytes.")
      .def(
          "__bytes__", [](const Key &key) { return ToBytes(key.bytes()); }, "The 16 key bytes.")
      .def("hex", &Key::to_hex, "The key as 32 lower-case hex digits.")
      .def("__eq__", &Equal, py::is_operator())
      .def("__hash__", [](const Key &key) { return py::hash(ToBytes(key.bytes())); })
      .def("__repr__", [](const Key &) { return std::string("<compatcrypt.Key (16 bytes, not shown)>"); })
      // Key(bytes) again, under every pickle protocol.
      .def("__reduce__", [](py::handle self) {
        return py::make_tuple(py::type::of(self), py::make_tuple(ToBytes(self.cast<const Key &>().bytes())));
      });
}

}  // namespace compatcrypt::python
