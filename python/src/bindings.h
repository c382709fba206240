// The parts of the module, each adding its functions and classes to it.
#pragma once

#include <pybind11/pybind11.h>

namespace compatcrypt::python {

namespace py = pybind11;

void BindErrors(py::module_ &module);
void BindDigest(py::module_ &module);
void BindKeys(py::module_ &module);
void BindCoding(py::module_ &module);
void BindBatch(py::module_ &module);

}  // namespace compatcrypt::python
