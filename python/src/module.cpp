// The extension module compatcrypt._compatcrypt, which the package
// compatcrypt re-exports: digests, keys, encoding and batches over the C++
// library (libcompatcrypt-cxx).
#include "bindings.h"
#include "compatcrypt.hpp"
#include "stop.h"

PYBIND11_MODULE(_compatcrypt, module) {
  namespace python = compatcrypt::python;
  module.doc() = "Fixed-format digests, two-key triple-DES encoding and password keys.";
  module.attr("__version__") = COMPATCRYPT_PYTHON_VERSION;
  module.def("engines", &compatcrypt::engines,
             "The engines this process runs, chosen from the CPU's features.");
  python::RememberMainThread();
  python::BindErrors(module);
  python::BindDigest(module);
  python::BindKeys(module);
  python::BindCoding(module);
  python::BindBatch(module);
  // The classes are used as compatcrypt.Name, and pickled under that name.
  for (const char *name : {"Digest", "Key", "Encoder", "Decoder"})
    module.attr(name).attr("__module__") = "compatcrypt";
}
