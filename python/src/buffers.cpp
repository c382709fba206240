#include "buffers.h"

#include <string>
#include <string_view>

namespace compatcrypt::python {

namespace {

std::string TypeName(py::handle object) { return Py_TYPE(object.ptr())->tp_name; }

// Whether a buffer's items are plain bytes of a fixed size, every one
// written by its exporter: integers, booleans, floats and complex numbers
// of the struct module's codes in any byte order, and fixed-size byte
// strings (NumPy's S dtype). Refused: objects (pointers into the
// interpreter's heap), pointers, text in wide characters, long double
// (whose padding bytes are never written) and compound formats.
bool PlainFormat(const char *format) {
  if (format == nullptr) return true;  // "B" by the buffer protocol's rule
  std::string_view text(format);
  if (!text.empty() && std::string_view("@=<>!").find(text.front()) != std::string_view::npos)
    text.remove_prefix(1);
  if (text.size() == 1)
    return std::string_view("bBc?hHiIlLqQnNefd").find(text.front()) != std::string_view::npos;
  if (text == "Zf" || text == "Zd") return true;
  if (text.size() >= 2 && text.back() == 's')
    return text.substr(0, text.size() - 1).find_first_not_of("0123456789") == std::string_view::npos;
  return false;
}

}  // namespace

std::string ArgumentName(const char *name, std::ptrdiff_t index) {
  return index < 0 ? std::string(name) : std::string(name) + "[" + std::to_string(index) + "]";
}

BufferView::BufferView(py::handle object, const char *name, Access access, Format format) {
  View(object, name, -1, access, format);
}

BufferView::BufferView(py::handle object, const char *name, std::size_t index) {
  View(object, name, static_cast<std::ptrdiff_t>(index), Access::kRead, Format::kBytes);
}

void BufferView::View(py::handle object, const char *name, std::ptrdiff_t index, Access access,
                      Format format) {
  if (access == Access::kRead && format == Format::kBytes && PyBytes_CheckExact(object.ptr())) {
    owner_ = py::reinterpret_borrow<py::object>(object);
    data_ = PyBytes_AS_STRING(object.ptr());
    size_ = static_cast<std::size_t>(PyBytes_GET_SIZE(object.ptr()));
    return;
  }
  if (!PyObject_CheckBuffer(object.ptr()))
    throw py::type_error(ArgumentName(name, index) + ": a bytes-like object is required, not '" +
                         TypeName(object) + "'");
  // Strides are asked for so that any exporter answers; contiguity is
  // checked below, to reject what cannot be read as one run of bytes.
  int flags = PyBUF_STRIDES | PyBUF_FORMAT;
  if (access == Access::kWrite) flags |= PyBUF_WRITABLE;
  if (PyObject_GetBuffer(object.ptr(), &view_, flags) != 0) {
    if (access == Access::kWrite && PyErr_ExceptionMatches(PyExc_BufferError)) {
      PyErr_Clear();
      throw py::type_error(ArgumentName(name, index) + ": a writable bytes-like object is required, not '" +
                           TypeName(object) + "'");
    }
    throw py::error_already_set();
  }
  held_ = true;
  if (format == Format::kBytes && !PlainFormat(view_.format)) {
    const std::string found = view_.format;
    PyBuffer_Release(&view_);
    held_ = false;
    throw py::type_error(ArgumentName(name, index) +
                         ": a buffer of plain bytes or numbers is required, not one of format '" + found +
                         "'");
  }
  if (!PyBuffer_IsContiguous(&view_, 'C')) {
    PyBuffer_Release(&view_);
    held_ = false;
    throw py::value_error(ArgumentName(name, index) + ": the buffer is not C-contiguous");
  }
  data_ = view_.buf;
  size_ = static_cast<std::size_t>(view_.len);
}

BufferView::BufferView(BufferView &&other) noexcept
    : owner_(std::move(other.owner_)),
      view_(other.view_),
      held_(other.held_),
      data_(other.data_),
      size_(other.size_) {
  other.held_ = false;
  other.view_ = Py_buffer{};
}

BufferView::~BufferView() {
  if (held_) PyBuffer_Release(&view_);
}

py::bytes NewBytes(std::size_t size) {
  PyObject *object = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (object == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(object);
}

std::span<std::byte> BytesMemory(const py::bytes &object) noexcept {
  return {reinterpret_cast<std::byte *>(PyBytes_AS_STRING(object.ptr())),
          static_cast<std::size_t>(PyBytes_GET_SIZE(object.ptr()))};
}

py::bytes ToBytes(std::span<const std::byte> data) {
  return py::bytes(reinterpret_cast<const char *>(data.data()), data.size());
}

}  // namespace compatcrypt::python
