// encode() and decode(), and the streaming Encoder and Decoder. Results are
// written straight into new bytes objects, as long as the input. Inputs
// longer than a piece are coded in pieces (stop.h), so Ctrl-C stops them;
// a stopped call's partial output is wiped before it is dropped.
#include <memory>
#include <mutex>

#include "bindings.h"
#include "buffers.h"
#include "compatcrypt.hpp"
#include "gil.h"
#include "stop.h"

namespace compatcrypt::python {

// A coder and the lock its calls take (gil.h).
template <Direction D>
struct CoderObject {
  Coder<D> coder;
  std::mutex mutex;

  explicit CoderObject(const Key &key) : coder(key) {}
};

}  // namespace compatcrypt::python

COMPATCRYPT_PYTHON_CONSTRUCTED(compatcrypt::python::CoderObject<compatcrypt::Direction::encode>)
COMPATCRYPT_PYTHON_CONSTRUCTED(compatcrypt::python::CoderObject<compatcrypt::Direction::decode>)

namespace compatcrypt::python {

namespace {

// Feeds `in` to the coder in pieces, writing into `out`; the bytes written.
// If the call is stopped, what it wrote is wiped and the exception goes on.
template <Direction D>
std::size_t UpdateInPieces(Coder<D> &coder, std::span<const std::byte> in, std::span<std::byte> out) {
  std::size_t written = 0;
  try {
    InPieces(in.size(), in.size() >= kCodingReleaseBytes, [&](std::size_t at, std::size_t size) {
      written += coder.update(in.subspan(at, size), out.subspan(written));
    });
  } catch (...) {
    secure_wipe(out.data(), written);
    throw;
  }
  return written;
}

template <Direction D>
py::bytes CodeAll(py::handle data, const Key &key) {
  const BufferView in(data, "data");
  py::bytes out = NewBytes(in.size());
  const std::span<std::byte> memory = BytesMemory(out);
  Coder<D> coder(key);
  const std::size_t written = UpdateInPieces(coder, in.bytes(), memory);
  coder.finish(memory.subspan(written));
  return out;
}

// An update stopped in the middle leaves the coder as it was before the
// call: the caller, who gets no output, can feed the same data again.
template <Direction D>
py::bytes Update(CoderObject<D> &self, py::handle data) {
  const BufferView in(data, "data");
  const ObjectLock lock(self.mutex);
  py::bytes out = NewBytes(self.coder.update_size(in.size()));
  const bool several = in.size() > PieceBytes();
  const std::unique_ptr<Coder<D>> before = several ? std::make_unique<Coder<D>>(self.coder) : nullptr;
  try {
    UpdateInPieces(self.coder, in.bytes(), BytesMemory(out));
  } catch (...) {
    if (before) self.coder = *before;
    throw;
  }
  return out;
}

template <Direction D>
py::bytes Finish(CoderObject<D> &self) {
  const ObjectLock lock(self.mutex);
  py::bytes out = NewBytes(self.coder.finish_size());
  self.coder.finish(BytesMemory(out));
  return out;
}

template <Direction D>
void BindCoder(py::module_ &module, const char *name, const char *doc) {
  py::class_<CoderObject<D>> coder(module, name, doc);
  coder.def(py::init([](const Key &key) { return std::make_unique<CoderObject<D>>(key); }), py::arg("key"))
      .def("update", &Update<D>, py::arg("data"),
           "Codes the next piece: returns the bytes of every 8-byte block completed so\n"
           "far; up to 7 bytes are held back until the next update() or finish().\n"
           "Stopped by Ctrl-C, it leaves the object as it was before the call.")
      .def("finish", &Finish<D>,
           "Returns the coding of the held bytes, the message's tail, and starts a new\n"
           "message under the same key.");
  RefusePickling(coder, name);
}

}  // namespace

void BindCoding(py::module_ &module) {
  module.def("encode", &CodeAll<Direction::encode>, py::arg("data"), py::arg("key"),
             "encode(data, key) -> bytes\n\n"
             "Encodes a bytes-like object under a Key: two-key triple DES in CBC mode\n"
             "from a zero IV, the tail XORed with the first cipher block (1 to 7-byte\n"
             "inputs with the encryption of the zero block). As long as the input.");
  module.def("decode", &CodeAll<Direction::decode>, py::arg("data"), py::arg("key"),
             "decode(data, key) -> bytes\n\n"
             "Decodes what encode() wrote under the same key; a wrong key gives garbage,\n"
             "not an error (the format has no check value). As long as the input.");
  BindCoder<Direction::encode>(module, "Encoder",
                               "Encoder(key)\n\n"
                               "Encoding fed piece by piece: the outputs of update() and finish(),\n"
                               "joined, are encode() of the joined inputs.");
  BindCoder<Direction::decode>(module, "Decoder",
                               "Decoder(key)\n\n"
                               "Decoding fed piece by piece: the outputs of update() and finish(),\n"
                               "joined, are decode() of the joined inputs.");
}

}  // namespace compatcrypt::python
