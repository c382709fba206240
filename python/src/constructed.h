// Objects usable only once constructed. Python lets anyone make an
// instance without running __init__ (cls.__new__(cls), or unpickling at
// protocols 0 and 1); pybind11 then hands the methods memory that was
// allocated but never written. Every class of the module is loaded through
// this caster, as `self` and as an argument: an instance whose __init__
// never ran is refused with TypeError before any method reads it.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <typeinfo>

namespace compatcrypt::python {

namespace py = pybind11;

template <typename T>
class ConstructedCaster : public py::detail::type_caster_base<T> {
 public:
  bool load(py::handle source, bool convert) {
    if (!py::detail::type_caster_base<T>::load(source, convert)) return false;
    const py::detail::type_info *type = py::detail::get_type_info(typeid(T));
    if (type == nullptr || source.is_none() || !PyObject_TypeCheck(source.ptr(), type->type)) return true;
    auto *instance = reinterpret_cast<py::detail::instance *>(source.ptr());
    if (!instance->get_value_and_holder(type).holder_constructed())
      throw py::type_error(
          "compatcrypt." +
          py::handle(reinterpret_cast<PyObject *>(type->type)).attr("__qualname__").cast<std::string>() +
          " object is not initialized: it was made without calling the class");
    return true;
  }
};

}  // namespace compatcrypt::python

// In every translation unit that binds or takes T, before its first use.
#define COMPATCRYPT_PYTHON_CONSTRUCTED(T)                                       \
  namespace pybind11::detail {                                                  \
  template <>                                                                   \
  class type_caster<T> : public ::compatcrypt::python::ConstructedCaster<T> {}; \
  }
