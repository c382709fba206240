// Long calls in pieces, with Python asked between two pieces whether to go
// on, so that Ctrl-C stops a digest of /dev/zero or the encoding of a huge
// buffer promptly.
//
// The work runs with the GIL released, in pieces of the library's piece
// size (compatcrypt_bind_piece_bytes()). Between two pieces the main thread,
// the only one that receives signals, takes the GIL back just long enough
// for PyErr_CheckSignals(); a handler that raises (KeyboardInterrupt) stops
// the call, which raises that exception once the GIL is its own again.
// Other threads never take the GIL between pieces: for them nothing is
// pending. Work of a single piece is never interrupted and pays nothing.
//
// Taking the GIL back may mean waiting for another thread that runs Python
// code to give it up, up to the interpreter's switch interval (5 ms); a
// digest piece takes a tenth of that. So the main thread asks at most once
// per kAskInterval: a stop still comes within a few tens of milliseconds,
// and a busy neighbour costs a long call at most a tenth of its time.
#pragma once

#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>

namespace compatcrypt::python {

namespace py = pybind11;

inline constexpr std::chrono::milliseconds kAskInterval{50};

// The bytes of one piece, as the library sets them.
std::size_t PieceBytes() noexcept;

// Called once when the module is loaded, with the GIL held: which thread
// is Python's main thread.
void RememberMainThread();
bool OnMainThread() noexcept;

// The GIL released for the life of the object, and taken back for a moment
// by AskToStop().
class ReleasedGil {
 public:
  ReleasedGil() noexcept
      : asks_(OnMainThread()), state_(PyEval_SaveThread()), last_(std::chrono::steady_clock::now()) {}
  ReleasedGil(const ReleasedGil &) = delete;
  ReleasedGil &operator=(const ReleasedGil &) = delete;
  ~ReleasedGil() { PyEval_RestoreThread(state_); }

  // True when a signal handler raised: its exception is then set, to be
  // thrown once the GIL is back.
  bool AskToStop() noexcept {
    if (!asks_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < kAskInterval) return false;
    last_ = now;
    PyEval_RestoreThread(state_);
    const bool stop = PyErr_CheckSignals() != 0;
    state_ = PyEval_SaveThread();
    return stop;
  }

 private:
  bool asks_;
  PyThreadState *state_;
  std::chrono::steady_clock::time_point last_;
};

// A stop that the main thread hands to calls it started on other threads,
// which receive no signals: the Dask helpers' local threads, stopped when
// Ctrl-C stops the main thread's wait for them. Read between two pieces
// without the GIL.
struct StopToken {
  std::atomic<bool> stopped{false};
};

// Runs step() until it returns true, the GIL released when `release` is
// true (nothing in step() may then touch a Python object), asking between
// two steps; throws the signal handler's exception if one stops it, or
// KeyboardInterrupt if `token` is stopped. A step that throws leaves
// through here with the GIL held again.
template <typename Step>
void RunStoppable(bool release, Step &&step, const StopToken *token = nullptr) {
  if (!release) {
    while (!step()) {
    }
    return;
  }
  bool signalled = false, stopped = false;
  {
    ReleasedGil unlocked;
    while (!step()) {
      if (token != nullptr && token->stopped.load(std::memory_order_relaxed)) {
        stopped = true;
        break;
      }
      if (unlocked.AskToStop()) {
        signalled = true;
        break;
      }
    }
  }
  if (stopped) PyErr_SetNone(PyExc_KeyboardInterrupt);
  if (signalled || stopped) throw py::error_already_set();
}

// piece(offset, size) over [0, total) in pieces of PieceBytes(); one call
// with size 0 when total is 0.
template <typename Piece>
void InPieces(std::size_t total, bool release, Piece &&piece) {
  const std::size_t most = PieceBytes();
  std::size_t done = 0;
  RunStoppable(release, [&] {
    const std::size_t size = std::min(most, total - done);
    piece(done, size);
    done += size;
    return done == total;
  });
}

}  // namespace compatcrypt::python
