// compatcrypt.Error: the library's failures (compatcrypt::Error) as a
// Python exception carrying the library's result code.
#include <pybind11/eval.h>

#include "bindings.h"
#include "compatcrypt.hpp"

namespace compatcrypt::python {

namespace {

constexpr const char *kErrorDoc =
    "A failure reported by the library.\n\n"
    "``code`` is the library's result code: RESULT_FAILED (-2) for a file that cannot\n"
    "be opened, positioned or read, RESULT_ERROR (-3) for an argument that cannot be\n"
    "used. Arguments Python can reject by their type or value raise TypeError or\n"
    "ValueError instead.";

// The type, created once when the module is loaded and kept for the
// translator, which may run on any thread with the GIL held.
PyObject *error_type = nullptr;

}  // namespace

void BindErrors(py::module_ &module) {
  // Defined in Python so that instances carry their code in __dict__ and
  // pickle with it: a failure on a Dask worker reaches the client whole.
  py::dict scope;
  scope["__builtins__"] = py::module_::import("builtins");
  py::exec(R"(
class Error(Exception):
    def __init__(self, message, code):
        super().__init__(message, code)
        self.code = code

    def __str__(self):
        return str(self.args[0])
)",
           scope);
  py::object type = scope["Error"];
  type.attr("__doc__") = kErrorDoc;
  type.attr("__module__") = "compatcrypt";
  module.attr("Error") = type;
  module.attr("RESULT_FAILED") = result::failed;
  module.attr("RESULT_ERROR") = result::error;
  error_type = type.release().ptr();

  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const compatcrypt::Error &e) {
      py::object instance = py::reinterpret_borrow<py::object>(error_type)(e.what(), e.code());
      PyErr_SetObject(error_type, instance.ptr());
    }
  });
}

}  // namespace compatcrypt::python
