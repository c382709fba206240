// The module: compatcrypt's Node-API addon, loaded once per environment
// (the main thread and each worker thread).
#include "addon.h"

namespace compatcrypt::node {

namespace {

napi_value Noop(napi_env, napi_callback_info) { return nullptr; }

void FreeData(napi_env env, void *data, void *) {
  auto *addon = static_cast<AddonData *>(data);
  if (addon->noop != nullptr) napi_delete_reference(env, addon->noop);
  delete addon;
}

}  // namespace

AddonData *DataOf(napi_env env) {
  void *data = nullptr;
  if (napi_get_instance_data(env, &data) != napi_ok) return nullptr;
  return static_cast<AddonData *>(data);
}

napi_value Init(napi_env env, napi_value exports) {
  // A library offering an older surface than this addon was built for
  // cannot happen with the library linked in; checked all the same.
  if (compatcrypt_bind_version() < COMPATCRYPT_BIND_VERSION)
    return Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_INTERNAL",
                 "the library's binding surface is too old");
  auto *addon = new AddonData;
  napi_value noop;
  if (napi_create_function(env, "noop", NAPI_AUTO_LENGTH, Noop, nullptr, &noop) != napi_ok ||
      napi_create_reference(env, noop, 1, &addon->noop) != napi_ok ||
      napi_set_instance_data(env, addon, FreeData, nullptr) != napi_ok) {
    delete addon;
    return ThrowStatus(env, napi_generic_failure);
  }
  if (!InitKeys(env, exports) || !InitOneShot(env, exports) || !InitStreams(env, exports) ||
      !InitJobs(env, exports))
    return ThrowStatus(env, napi_generic_failure);
  return exports;
}

}  // namespace compatcrypt::node

NAPI_MODULE_INIT() { return compatcrypt::node::Init(env, exports); }
