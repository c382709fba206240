// The C calls the Node.js benchmark (bench/node_bench.mjs) sets the
// package's cost per call against, timed in a loop inside the same
// process: MessageDigest of the C library, and the binding surface's
// digest as the addon calls it (an object in the caller's memory, update,
// finish, destroy). Each returns nanoseconds per call.
#include <node_api.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "compatcrypt.h"
#include "compatcrypt_bind.h"

namespace {

struct Loop {
  std::vector<unsigned char> data;
  uint32_t count = 0;
};

Loop Read(napi_env env, napi_callback_info info) {
  std::size_t argc = 2;
  napi_value argv[2];
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  void *bytes = nullptr;
  std::size_t size = 0;
  napi_get_buffer_info(env, argv[0], &bytes, &size);
  Loop loop;
  loop.data.assign(static_cast<unsigned char *>(bytes), static_cast<unsigned char *>(bytes) + size);
  napi_get_value_uint32(env, argv[1], &loop.count);
  return loop;
}

template <typename Call>
napi_value Time(napi_env env, const Loop &loop, Call call) {
  volatile unsigned char sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < loop.count; ++i) sink = sink + call();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  napi_value result;
  napi_create_double(env, std::chrono::duration<double, std::nano>(elapsed).count() / loop.count, &result);
  return result;
}

// messageDigest(data, count) -> ns per call
napi_value MessageDigestLoop(napi_env env, napi_callback_info info) {
  const Loop loop = Read(env, info);
  return Time(env, loop, [&] {
    unsigned char out[COMPATCRYPT_DIGEST_BYTES];
    int32_t length = 0;
    MessageDigest(loop.data.data(), static_cast<int32_t>(loop.data.size()), out, &length, COMPATCRYPT_MODE);
    return out[0];
  });
}

// surfaceDigest(data, count) -> ns per call
napi_value SurfaceDigestLoop(napi_env env, napi_callback_info info) {
  const Loop loop = Read(env, info);
  return Time(env, loop, [&] {
    alignas(64) unsigned char memory[4096];
    compatcrypt_bind_digest *digest = nullptr;
    unsigned char out[COMPATCRYPT_BIND_DIGEST_BYTES] = {};
    compatcrypt_bind_digest_init(memory, sizeof memory, &digest);
    compatcrypt_bind_digest_update(digest, loop.data.data(), loop.data.size());
    compatcrypt_bind_digest_finish(digest, out);
    compatcrypt_bind_digest_destroy(digest);
    return out[0];
  });
}

}  // namespace

NAPI_MODULE_INIT() {
  napi_value function;
  napi_create_function(env, "messageDigest", NAPI_AUTO_LENGTH, MessageDigestLoop, nullptr, &function);
  napi_set_named_property(env, exports, "messageDigest", function);
  napi_create_function(env, "surfaceDigest", NAPI_AUTO_LENGTH, SurfaceDigestLoop, nullptr, &function);
  napi_set_named_property(env, exports, "surfaceDigest", function);
  return exports;
}
