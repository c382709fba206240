// digest(), file_digest() and the streaming Digest, in the manner of
// hashlib: digest() of a Digest leaves it open for more data. Inputs longer
// than a piece and every file are worked on in pieces (stop.h), so Ctrl-C
// stops them.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"
#include "compatcrypt_bind.h"
#include "errors.h"
#include "gil.h"
#include "stop.h"

namespace compatcrypt::python {

// A Digest and the lock its calls take (gil.h).
struct DigestObject {
  compatcrypt::Digest state;
  std::mutex mutex;

  DigestObject() = default;
  explicit DigestObject(const compatcrypt::Digest &from) : state(from) {}
};

}  // namespace compatcrypt::python

COMPATCRYPT_PYTHON_CONSTRUCTED(compatcrypt::python::DigestObject)
COMPATCRYPT_PYTHON_CONSTRUCTED(compatcrypt::python::StopToken)

namespace compatcrypt::python {

namespace {

// Adds the data to `state` in pieces. A call that is stopped leaves the
// state as it was before the call, so the object stays usable and means
// what its caller thinks it means.
void UpdateInPieces(compatcrypt::Digest &state, std::span<const std::byte> data) {
  const bool several = data.size() > PieceBytes();
  const compatcrypt::Digest before = several ? state : compatcrypt::Digest();
  try {
    InPieces(data.size(), data.size() >= kDigestReleaseBytes,
             [&](std::size_t at, std::size_t size) { state.update(data.subspan(at, size)); });
  } catch (...) {
    if (several) state = before;
    throw;
  }
}

void Update(DigestObject &self, py::handle data) {
  const BufferView view(data, "data");
  const ObjectLock lock(self.mutex);
  UpdateInPieces(self.state, view.bytes());
}

// The digest of the data so far; the object carries on from where it was.
DigestValue Peek(DigestObject &self) {
  const ObjectLock lock(self.mutex);
  compatcrypt::Digest copy(self.state);
  return copy.finish();
}

py::bytes DigestAll(py::handle data) {
  const BufferView view(data, "data");
  if (view.size() <= PieceBytes())
    return ToBytes(RunReleasingGil(view.size() >= kDigestReleaseBytes,
                                   [&] { return compatcrypt::digest(view.bytes()); }));
  compatcrypt::Digest state;
  UpdateInPieces(state, view.bytes());
  return ToBytes(state.finish());
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

struct FileClose {
  void operator()(compatcrypt_bind_file *file) const noexcept { compatcrypt_bind_file_destroy(file); }
};

// The file through the binding surface: opened without waiting (a FIFO or
// socket is refused at once) and read and digested a piece at a time.
py::bytes FileDigest(py::handle path, py::handle offset_object, const StopToken *token) {
  // A name as open() takes it: str (in the file system's encoding, with
  // surrogate escapes), bytes or os.PathLike; embedded NUL refused.
  const py::object name = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
  if (!name) throw py::error_already_set();
  PyObject *converted = nullptr;
  if (PyUnicode_FSConverter(name.ptr(), &converted) == 0) throw py::error_already_set();
  const py::bytes encoded_object = py::reinterpret_steal<py::bytes>(converted);
  const std::string encoded(encoded_object);
  const std::int64_t offset = ToOffset(offset_object);

  compatcrypt_bind_file *made = nullptr;
  if (const int code = compatcrypt_bind_file_new(&made); code != COMPATCRYPT_BIND_OK) ThrowCodeError(code);
  const std::unique_ptr<compatcrypt_bind_file, FileClose> file(made);
  int os_error = 0;
  int code = RunReleasingGil(
      true, [&] { return compatcrypt_bind_file_open(file.get(), encoded.c_str(), offset, &os_error); });
  if (code != COMPATCRYPT_BIND_OK) ThrowFileError(code, os_error, name, encoded);
  RunStoppable(
      true,
      [&] {
        int done = 0;
        code = compatcrypt_bind_file_read(file.get(), PieceBytes(), &done, &os_error);
        return code != COMPATCRYPT_BIND_OK || done != 0;
      },
      token);
  if (code != COMPATCRYPT_BIND_OK) ThrowFileError(code, os_error, name, encoded);
  std::uint8_t value[COMPATCRYPT_BIND_DIGEST_BYTES];
  if (code = compatcrypt_bind_file_finish(file.get(), value); code != COMPATCRYPT_BIND_OK)
    ThrowCodeError(code);
  return py::bytes(reinterpret_cast<const char *>(value), sizeof value);
}

}  // namespace

void BindDigest(py::module_ &module) {
  module.attr("DIGEST_SIZE") = kDigestSize;

  module.def("digest", &DigestAll, py::arg("data"),
             "digest(data) -> bytes\n\n"
             "The 20-byte digest of a bytes-like object (bytes, bytearray, memoryview,\n"
             "NumPy array, ...; C-contiguous, read as raw bytes).");

  // For compatcrypt.dask's local threads: file_digest that a token stops.
  py::class_<StopToken> token(module, "_StopToken");
  token.def(py::init<>()).def("stop", [](StopToken &self) { self.stopped = true; });
  RefusePickling(token, "_StopToken");
  module.def("_file_digest_until", &FileDigest, py::arg("path"), py::arg("offset"), py::arg("token"));
  module.def(
      "file_digest", [](py::handle path, py::handle offset) { return FileDigest(path, offset, nullptr); },
      py::arg("path"), py::arg("offset") = 0,
      "file_digest(path, offset=0) -> bytes\n\n"
      "The digest of a file's bytes from `offset` (0 to 2**63 - 1) to its end\n"
      "(str, bytes or os.PathLike path); an offset at or past the end digests no\n"
      "bytes. Read in pieces: Ctrl-C stops it, even on an endless device.\n"
      "Raises compatcrypt.Error (an OSError, code RESULT_FAILED, with errno and\n"
      "filename) when the file cannot be opened, positioned or read: a\n"
      "directory, say, or a FIFO or socket (errno.ESPIPE, at once: they cannot\n"
      "be read from an offset).");

  py::class_<DigestObject> digest(module, "Digest",
                                  "Digest(data=b'')\n\n"
                                  "A digest fed piece by piece: digest() is the digest of everything given\n"
                                  "so far (to the constructor and to update()), however it was cut, and\n"
                                  "leaves the object open for more. copy() carries on independently, for\n"
                                  "messages sharing a prefix. An object may be used from several threads.\n"
                                  "An update() stopped by Ctrl-C leaves the object as it was.");
  digest
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
          "block_size", [](const DigestObject &) { return COMPATCRYPT_BIND_DIGEST_BLOCK_BYTES; },
          "64: the bytes of one block of the digest.")
      .def_property_readonly(
          "name", [](const DigestObject &) { return "compatcrypt"; }, "'compatcrypt'.");
  RefusePickling(digest, "Digest");
}

}  // namespace compatcrypt::python
