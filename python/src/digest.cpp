// digest(), file_digest() and the streaming Digest, in the manner of
// hashlib: digest() of a Digest leaves it open for more data.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"
#include "gil.h"

namespace compatcrypt::python {

namespace {

// A Digest and the lock its calls take (gil.h).
struct DigestObject {
  compatcrypt::Digest state;
  std::mutex mutex;

  DigestObject() = default;
  explicit DigestObject(const compatcrypt::Digest &from) : state(from) {}
};

void Update(DigestObject &self, py::handle data) {
  const BufferView view(data, "data");
  const ObjectLock lock(self.mutex);
  RunReleasingGil(view.size() >= kDigestReleaseBytes, [&] { self.state.update(view.bytes()); });
}

// The digest of the data so far; the object carries on from where it was.
DigestValue Peek(DigestObject &self) {
  const ObjectLock lock(self.mutex);
  compatcrypt::Digest copy(self.state);
  return copy.finish();
}

// A path as open() takes it: str, bytes or os.PathLike; str in the file
// system's encoding.
std::filesystem::path ToPath(py::handle path) {
  PyObject *converted = nullptr;
  if (PyUnicode_FSConverter(path.ptr(), &converted) == 0) throw py::error_already_set();
  const py::bytes encoded = py::reinterpret_steal<py::bytes>(converted);
  // PyUnicode_FSConverter has already refused embedded NUL bytes.
  return std::filesystem::path(std::string(encoded));
}

// The offset as file_digest takes it, a file offset: any integer type
// (TypeError otherwise), from 0 to 2^63 - 1 (ValueError otherwise).
std::int64_t ToOffset(py::handle offset) {
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(offset.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || value < 0)
    throw py::value_error("offset must be from 0 to 2**63 - 1, not " + py::str(index).cast<std::string>());
  return value;
}

}  // namespace

void BindDigest(py::module_ &module) {
  module.attr("DIGEST_SIZE") = kDigestSize;

  module.def(
      "digest",
      [](py::handle data) {
        const BufferView view(data, "data");
        return ToBytes(RunReleasingGil(view.size() >= kDigestReleaseBytes,
                                       [&] { return compatcrypt::digest(view.bytes()); }));
      },
      py::arg("data"),
      "digest(data) -> bytes\n\n"
      "The 20-byte digest of a bytes-like object (bytes, bytearray, memoryview,\n"
      "NumPy array, ...; C-contiguous, read as raw bytes).");

  module.def(
      "file_digest",
      [](py::handle path, py::handle offset_object) {
        const std::filesystem::path file = ToPath(path);
        const std::int64_t offset = ToOffset(offset_object);
        return ToBytes(RunReleasingGil(true, [&] { return compatcrypt::file_digest(file, offset); }));
      },
      py::arg("path"), py::arg("offset") = 0,
      "file_digest(path, offset=0) -> bytes\n\n"
      "The digest of a file's bytes from `offset` (0 to 2**63 - 1) to its end\n"
      "(str, bytes or os.PathLike path); an offset at or past the end digests no\n"
      "bytes. Raises compatcrypt.Error (code RESULT_FAILED) naming the file and\n"
      "the reason when it cannot be opened, positioned or read (a directory,\n"
      "say).");

  py::class_<DigestObject>(module, "Digest",
                           "Digest(data=b'')\n\n"
                           "A digest fed piece by piece: digest() is the digest of everything given\n"
                           "so far (to the constructor and to update()), however it was cut, and\n"
                           "leaves the object open for more. copy() carries on independently, for\n"
                           "messages sharing a prefix. An object may be used from several threads.")
      .def(py::init([](py::handle data) {
             auto self = std::make_unique<DigestObject>();
             Update(*self, data);
             return self;
           }),
           py::arg("data") = py::bytes())
      .def("update", &Update, py::arg("data"), "Adds a bytes-like object's bytes to the message.")
      .def(
          "digest", [](DigestObject &self) { return ToBytes(Peek(self)); },
          "The 20-byte digest of the data so far.")
      .def(
          "hexdigest", [](DigestObject &self) { return compatcrypt::to_hex(Peek(self)); },
          "digest() as 40 lower-case hex digits.")
      .def(
          "copy",
          [](DigestObject &self) {
            const ObjectLock lock(self.mutex);
            return std::make_unique<DigestObject>(self.state);
          },
          "An independent object with the same data so far.")
      .def_property_readonly(
          "digest_size", [](const DigestObject &) { return kDigestSize; }, "20: the bytes digest() returns.")
      .def_property_readonly(
          "block_size", [](const DigestObject &) { return 64; }, "64: the bytes of one block of the digest.")
      .def_property_readonly(
          "name", [](const DigestObject &) { return "compatcrypt"; }, "'compatcrypt'.");
}

}  // namespace compatcrypt::python
