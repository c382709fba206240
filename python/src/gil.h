// When a call lets other Python threads run while it works.
//
// Releasing the GIL costs little itself, but taking it back means waiting
// for whichever thread holds it then, up to the interpreter's switch
// interval (5 ms by default) if that thread runs Python code. A call that
// works for a microsecond or less therefore keeps the GIL, as hashlib does
// below 2 KiB; longer work releases it, so that threads digest and code in
// parallel. File digests always release it: they wait for the disk.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <mutex>
#include <utility>

namespace compatcrypt::python {

namespace py = pybind11;

// Digests run at gigabytes a second on the vector engines: hashlib's 2 KiB
// is a fraction of a microsecond of work there, several microseconds on the
// portable engine.
inline constexpr std::size_t kDigestReleaseBytes = 2048;
// Triple DES costs some 30 times more per byte: 64 bytes (eight blocks) are
// already about two microseconds of serial work.
inline constexpr std::size_t kCodingReleaseBytes = 64;

// Runs `work` without the GIL when `release` is true. Nothing in `work` may
// touch a Python object, and Python objects it uses must be kept alive by
// the caller.
template <typename Work>
decltype(auto) RunReleasingGil(bool release, Work &&work) {
  if (!release) return std::forward<Work>(work)();
  py::gil_scoped_release unlocked;
  return std::forward<Work>(work)();
}

// The lock of a streaming object (Digest, Encoder, Decoder), taken for each
// call on it, since a call that releases the GIL could otherwise meet
// another thread's call on the same object. Taken with the GIL held; if
// another thread holds it, it is waited for with the GIL released, so that
// that thread can take the GIL back and finish.
class ObjectLock {
 public:
  explicit ObjectLock(std::mutex &mutex) : lock_(mutex, std::try_to_lock) {
    if (!lock_.owns_lock()) {
      py::gil_scoped_release unlocked;
      lock_.lock();
    }
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace compatcrypt::python
