// The Node-API addon over the binding surface (compatcrypt_bind.h) and
// nothing else: marshalling, errors with a code, and the thread pool.
// The JavaScript files in lib/ check what is easier to check there
// (options, AbortSignal) and give the API its shape; everything that
// touches bytes is here.
#pragma once

#include <node_api.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "compatcrypt_bind.h"

namespace compatcrypt::node {

// Per environment (the main thread and every worker thread have one).
struct AddonData {
  napi_ref noop = nullptr;  // called to learn whether the environment can still run JavaScript
};

AddonData *DataOf(napi_env env);

// ---- Errors ------------------------------------------------------------
// Every error is a JavaScript Error (or TypeError, RangeError) with a
// `code`; messages name arguments, sizes and file names, never a byte of
// data, key or password.
enum class ErrorKind { error, type, range };

// Throws and returns null, so that a function can `return Throw(...)`.
napi_value Throw(napi_env env, ErrorKind kind, const char *code, const std::string &message);
napi_value MakeError(napi_env env, ErrorKind kind, const char *code, const std::string &message);
// A result code of the surface as an error: its message from the library,
// after `context` ("encode: key").
napi_value ThrowSurface(napi_env env, int result, const std::string &context);
napi_value SurfaceError(napi_env env, int result, const std::string &context);
// The error of a result code with a message of the caller's.
napi_value ResultError(napi_env env, int result, const std::string &message);
// Any napi_* status other than napi_ok: a pending exception stays, else
// an internal error is thrown.
napi_value ThrowStatus(napi_env env, napi_status status);

// Evaluates a napi_* call; on failure throws (unless an exception is
// pending) and returns null from the calling function.
#define CC_CALL(env, call)                                          \
  do {                                                              \
    const napi_status cc_status_ = (call);                          \
    if (cc_status_ != napi_ok) return ThrowStatus(env, cc_status_); \
  } while (0)

// ---- Arguments -----------------------------------------------------------
template <std::size_t N>
struct Args {
  napi_value values[N];
  std::size_t count = N;
  napi_value self = nullptr;
  bool Read(napi_env env, napi_callback_info info) {
    return napi_get_cb_info(env, info, &count, values, &self, nullptr) == napi_ok;
  }
  napi_value operator[](std::size_t i) const { return values[i]; }
};

// The bytes of a Buffer, TypedArray, DataView or ArrayBuffer, where they
// lie. A SharedArrayBuffer (or a view of one) is refused: another thread
// may write it at any time. A detached buffer is refused too. On failure
// an error naming `name` has been thrown and false is returned.
struct Bytes {
  uint8_t *data = nullptr;
  std::size_t size = 0;
  napi_value arraybuffer = nullptr;  // the ArrayBuffer holding them
};
bool ReadBytes(napi_env env, napi_value value, const char *name, Bytes *out);
// True when `value` is one of the kinds ReadBytes reads (no throw).
bool IsBytesKind(napi_env env, napi_value value);
// An error for a value of the wrong type, naming only its type.
napi_value ThrowArgType(napi_env env, napi_value value, const char *name, const char *expected);

// A new Buffer of `size` bytes; its memory in *data.
bool NewBuffer(napi_env env, std::size_t size, napi_value *buffer, uint8_t **data);
bool CopyBuffer(napi_env env, const void *bytes, std::size_t size, napi_value *buffer);

bool GetInt32(napi_env env, napi_value value, int32_t *out);

// ---- Keys ----------------------------------------------------------------
// A key's 16 bytes live in native memory behind an external value that the
// Key class keeps in a private field; they are wiped when destroyed and
// when collected.
struct KeyBox {
  uint8_t bytes[COMPATCRYPT_BIND_KEY_BYTES];
  bool destroyed = false;
};
// The live key behind `value`, or null after throwing.
KeyBox *ReadKey(napi_env env, napi_value value, const char *function);

// ---- The environment's state ----------------------------------------------
// False while a worker thread is being stopped or the process is ending:
// work still in flight must then stop, not go on to its next piece.
bool CanRunJavaScript(napi_env env);

// Module parts: each defines its functions on `exports`.
bool InitKeys(napi_env env, napi_value exports);
bool InitOneShot(napi_env env, napi_value exports);
bool InitStreams(napi_env env, napi_value exports);
bool InitJobs(napi_env env, napi_value exports);

bool SetFunction(napi_env env, napi_value exports, const char *name, napi_callback callback,
                 void *data = nullptr);

// A coder as the stream objects hold it; jobs may borrow one.
struct CoderBox {
  compatcrypt_bind_coder *coder = nullptr;
  int direction = 0;
  bool busy = false;              // a job is using it on the thread pool
  bool destroyRequested = false;  // destroyed while busy: the job destroys it
};
CoderBox *ReadCoder(napi_env env, napi_value value);

}  // namespace compatcrypt::node
