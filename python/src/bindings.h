// The parts of the module, each adding its functions and classes to it.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "compatcrypt.hpp"
#include "constructed.h"

// Keys are taken by every part.
COMPATCRYPT_PYTHON_CONSTRUCTED(compatcrypt::Key)

namespace compatcrypt::python {

namespace py = pybind11;

void BindErrors(py::module_ &module);
void BindDigest(py::module_ &module);
void BindKeys(py::module_ &module);
void BindCoding(py::module_ &module);
void BindBatch(py::module_ &module);

// Every Python class of the module refuses pickling, except Key, whose
// pickle is its bytes: a digest or coder's state is no stable format.
template <typename Class>
void RefusePickling(Class &cls, const char *name) {
  const std::string message = std::string("cannot pickle 'compatcrypt.") + name + "' object";
  cls.def("__reduce_ex__",
          [message](py::handle, py::handle) -> py::object { throw py::type_error(message); });
  cls.def("__reduce__", [message](py::handle) -> py::object { throw py::type_error(message); });
}

}  // namespace compatcrypt::python
