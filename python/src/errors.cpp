// compatcrypt.Error: the library's failures as a Python exception carrying
// the library's result code, an OSError as open() raises it for a file;
// compatcrypt.WeakKeyWarning: the key rules' findings.
#include "errors.h"

#include <pybind11/eval.h>

#include <cstring>
#include <string>

#include "bindings.h"
#include "compatcrypt.hpp"
#include "compatcrypt_bind.h"

namespace compatcrypt::python {

namespace {

constexpr const char *kErrorDoc =
    "A failure reported by the library, an OSError.\n\n"
    "``code`` is the library's result code: RESULT_FAILED (-2) for a file that cannot\n"
    "be opened, positioned or read, with ``errno``, ``strerror`` and ``filename`` as\n"
    "open() sets them (a FIFO or socket, which cannot be read from an offset, gives\n"
    "errno.ESPIPE at once); RESULT_ERROR (-3) for an argument that cannot be used.\n"
    "Arguments Python can reject by their type or value raise TypeError or\n"
    "ValueError instead.";

constexpr const char *kWarningDoc =
    "A key weaker than it looks: a zero byte cuts one of its DES keys (the warning\n"
    "says how many key bytes are in effect), or a password is empty, whose key\n"
    "everyone can derive. Filter it with the warnings module, or make it an error:\n"
    "warnings.simplefilter('error', compatcrypt.WeakKeyWarning).";

// Defined in Python so that instances carry their code and pickle whole: a
// failure on a Dask worker reaches the client as it was raised.
constexpr const char *kClasses = R"(
import os as _os

class Error(OSError):
    def __init__(self, message, code, errno=None, filename=None):
        if errno is None:
            super().__init__(message)
        else:
            super().__init__(errno, _os.strerror(errno) if errno else message, filename)
        self.code = code
        self._message = message

    def __str__(self):
        return self._message

    def __reduce__(self):
        return (type(self), (self._message, self.code, self.errno, self.filename))

class WeakKeyWarning(UserWarning):
    pass
)";

// Created once when the module is loaded and kept, for calls on any thread
// with the GIL held.
PyObject *error_type = nullptr;
PyObject *warning_type = nullptr;

// Text for a message that Python can always print: bytes that are not
// UTF-8 (a file name's) as \xNN escapes.
py::str Printable(std::string_view text) {
  PyObject *decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "backslashreplace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

[[noreturn]] void Raise(const py::object &instance) {
  PyErr_SetObject(error_type, instance.ptr());
  throw py::error_already_set();
}

}  // namespace

void ThrowFileError(int code, int os_error, py::handle filename, std::string_view encoded) {
  const std::string reason = os_error != 0 ? std::strerror(os_error) : compatcrypt_bind_message(code);
  const py::str message = py::str(Printable(encoded)) + py::str(": " + reason);
  Raise(py::reinterpret_borrow<py::object>(error_type)(message, code, os_error, filename));
}

void ThrowCodeError(int code) {
  Raise(py::reinterpret_borrow<py::object>(error_type)(compatcrypt_bind_message(code), code));
}

void WarnWeakKey(const char *message) {
  // Level 2: the package wraps every call in a Python function
  // (__init__.py), whose caller is the user's line.
  if (PyErr_WarnEx(warning_type, message, 2) != 0) throw py::error_already_set();
}

void BindErrors(py::module_ &module) {
  py::dict scope;
  scope["__builtins__"] = py::module_::import("builtins");
  scope["__name__"] = "compatcrypt";
  py::exec(kClasses, scope);
  py::object error = scope["Error"];
  py::object warning = scope["WeakKeyWarning"];
  error.attr("__doc__") = kErrorDoc;
  warning.attr("__doc__") = kWarningDoc;
  for (py::object *type : {&error, &warning}) type->attr("__module__") = "compatcrypt";
  module.attr("Error") = error;
  module.attr("WeakKeyWarning") = warning;
  module.attr("RESULT_FAILED") = result::failed;
  module.attr("RESULT_ERROR") = result::error;
  error_type = error.release().ptr();
  warning_type = warning.release().ptr();

  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const compatcrypt::Error &e) {
      py::object instance = py::reinterpret_borrow<py::object>(error_type)(Printable(e.what()), e.code());
      PyErr_SetObject(error_type, instance.ptr());
    }
  });
}

}  // namespace compatcrypt::python
