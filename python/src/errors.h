// The module's exception and warning types, for the parts that raise them.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

namespace compatcrypt::python {

namespace py = pybind11;

// Throws compatcrypt.Error for a result code of the binding surface: the
// library's message for it, and for a file (COMPATCRYPT_BIND_E_FILE) the
// system's reason, the errno and the name as given (`filename`, str or
// bytes), as open() reports a file. `encoded` is the name's bytes.
[[noreturn]] void ThrowFileError(int code, int os_error, py::handle filename, std::string_view encoded);
[[noreturn]] void ThrowCodeError(int code);

// Issues compatcrypt.WeakKeyWarning with `message`, attributed to the
// caller of the package's function; throws if a filter made it an error.
void WarnWeakKey(const char *message);

}  // namespace compatcrypt::python
