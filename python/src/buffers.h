// Bytes-like arguments seen through the buffer protocol, without a copy,
// and the results written straight into new Python objects.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <span>
#include <string>

namespace compatcrypt::python {

namespace py = pybind11;

// One argument's memory: C-contiguous bytes of any exporter (bytes,
// bytearray, memoryview, array.array, NumPy arrays, ...), read as raw bytes
// whatever the item type, as hashlib reads them, as long as the items are
// plain fixed-size bytes (TypeError naming the format otherwise: an object
// array holds pointers, not data). Holds the exporter (and,
// for a bytearray, keeps it from being resized) until destroyed, which
// must happen with the GIL held. `name` names the argument in errors:
// TypeError for an object without the buffer protocol or, for a writable
// view, a read-only one; ValueError for memory that is not C-contiguous.
class BufferView {
 public:
  enum class Access { kRead, kWrite };
  // kBytes: data, whose item format must be plain; kItems: an array whose
  // format the caller checks (offsets).
  enum class Format { kBytes, kItems };

  BufferView(py::handle object, const char *name, Access access = Access::kRead,
             Format format = Format::kBytes);
  // An item of a sequence argument, named `name[index]` in errors.
  BufferView(py::handle object, const char *name, std::size_t index);
  BufferView(BufferView &&other) noexcept;
  BufferView(const BufferView &) = delete;
  BufferView &operator=(const BufferView &) = delete;
  BufferView &operator=(BufferView &&) = delete;
  ~BufferView();

  std::span<const std::byte> bytes() const noexcept { return {static_cast<const std::byte *>(data_), size_}; }
  std::span<std::byte> writable() const noexcept { return {static_cast<std::byte *>(data_), size_}; }
  std::size_t size() const noexcept { return size_; }
  // The item format and size, for views made with Format::kItems.
  const char *format() const noexcept { return view_.format != nullptr ? view_.format : "B"; }
  std::size_t item_size() const noexcept { return static_cast<std::size_t>(view_.itemsize); }
  int dimensions() const noexcept { return held_ ? view_.ndim : 1; }

 private:
  // Exact bytes objects are read directly (they are immutable and need no
  // release), the common case for small inputs; everything else through
  // PyObject_GetBuffer.
  void View(py::handle object, const char *name, std::ptrdiff_t index, Access access, Format format);

  py::object owner_;
  Py_buffer view_{};
  bool held_ = false;
  void *data_ = nullptr;
  std::size_t size_ = 0;
};

// The name of an argument in errors: `name` or `name[index]`.
std::string ArgumentName(const char *name, std::ptrdiff_t index);

// A new bytes object of `size` bytes for a result to be written into; its
// memory is writable until the object is handed to Python code.
py::bytes NewBytes(std::size_t size);
std::span<std::byte> BytesMemory(const py::bytes &object) noexcept;

// A 20-byte digest or other small result as a new bytes object.
py::bytes ToBytes(std::span<const std::byte> data);

}  // namespace compatcrypt::python
