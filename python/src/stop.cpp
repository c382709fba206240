#include "stop.h"

#include <pythread.h>

#include "compatcrypt_bind.h"

namespace compatcrypt::python {

namespace {

unsigned long main_thread = 0;

}  // namespace

std::size_t PieceBytes() noexcept {
  static const std::size_t bytes = compatcrypt_bind_piece_bytes();
  return bytes;
}

void RememberMainThread() {
  // threading.main_thread(), whichever thread imports the module.
  main_thread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
}

bool OnMainThread() noexcept { return PyThread_get_thread_ident() == main_thread; }

}  // namespace compatcrypt::python
