// The objects behind createDigest(), createEncoder() and createDecoder():
// a surface digest or coder behind an external value, destroyed (and so
// wiped) when the stream ends or is destroyed, or when it is collected.
#include <new>
#include <string>

#include "addon.h"

namespace compatcrypt::node {

namespace {

constexpr napi_type_tag kDigestTag = {0x636f6d7061746372ULL, 0x4469676573743031ULL};
constexpr napi_type_tag kCoderTag = {0x636f6d7061746372ULL, 0x436f646572303031ULL};

struct DigestBox {
  compatcrypt_bind_digest *digest = nullptr;
};

void FinalizeDigest(napi_env, void *data, void *) {
  auto *box = static_cast<DigestBox *>(data);
  if (box->digest != nullptr) compatcrypt_bind_digest_destroy(box->digest);
  delete box;
}

void FinalizeCoder(napi_env, void *data, void *) {
  auto *box = static_cast<CoderBox *>(data);
  // A coder still busy on the thread pool belongs to its job, which
  // destroys it (jobs.cpp); that cannot happen here, since the job holds a
  // reference to this value until it completes.
  if (box->coder != nullptr) compatcrypt_bind_coder_destroy(box->coder);
  delete box;
}

template <typename Box>
napi_value Wrap(napi_env env, Box *box, napi_finalize finalize, const napi_type_tag *tag) {
  napi_value external;
  if (napi_create_external(env, box, finalize, nullptr, &external) != napi_ok) {
    finalize(env, box, nullptr);
    return ThrowStatus(env, napi_generic_failure);
  }
  CC_CALL(env, napi_type_tag_object(env, external, tag));
  return external;
}

template <typename Box>
Box *Unwrap(napi_env env, napi_value value, const napi_type_tag *tag, const char *what) {
  bool tagged = false;
  void *data = nullptr;
  if (napi_check_object_type_tag(env, value, tag, &tagged) != napi_ok || !tagged ||
      napi_get_value_external(env, value, &data) != napi_ok) {
    ThrowArgType(env, value, "handle", what);
    return nullptr;
  }
  return static_cast<Box *>(data);
}

DigestBox *LiveDigest(napi_env env, napi_value value) {
  auto *box = Unwrap<DigestBox>(env, value, &kDigestTag, "a digest");
  if (box != nullptr && box->digest == nullptr) {
    Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_DIGEST_FINALIZED", "the digest was already computed");
    return nullptr;
  }
  return box;
}

napi_value DigestNew(napi_env env, napi_callback_info) {
  auto *box = new (std::nothrow) DigestBox;
  if (box == nullptr) return ThrowSurface(env, COMPATCRYPT_BIND_E_NO_MEMORY, "createDigest");
  const int result = compatcrypt_bind_digest_new(&box->digest);
  if (result != COMPATCRYPT_BIND_OK) {
    delete box;
    return ThrowSurface(env, result, "createDigest");
  }
  return Wrap(env, box, FinalizeDigest, &kDigestTag);
}

napi_value DigestCopy(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  DigestBox *from = LiveDigest(env, args[0]);
  if (from == nullptr) return nullptr;
  auto *box = new (std::nothrow) DigestBox;
  if (box == nullptr) return ThrowSurface(env, COMPATCRYPT_BIND_E_NO_MEMORY, "digest.copy");
  const int result = compatcrypt_bind_digest_copy(from->digest, nullptr, 0, &box->digest);
  if (result != COMPATCRYPT_BIND_OK) {
    delete box;
    return ThrowSurface(env, result, "digest.copy");
  }
  return Wrap(env, box, FinalizeDigest, &kDigestTag);
}

napi_value DigestUpdate(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  DigestBox *box = LiveDigest(env, args[0]);
  if (box == nullptr) return nullptr;
  Bytes in;
  if (!ReadBytes(env, args[1], "data", &in)) return nullptr;
  const int result = compatcrypt_bind_digest_update(box->digest, in.data, in.size);
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env, result, "digest.update");
  return nullptr;
}

// digestFinish(handle) -> Buffer; the digest is then destroyed: a Digest
// gives its value once, as Node's Hash does.
napi_value DigestFinish(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  DigestBox *box = LiveDigest(env, args[0]);
  if (box == nullptr) return nullptr;
  uint8_t value[COMPATCRYPT_BIND_DIGEST_BYTES];
  const int result = compatcrypt_bind_digest_finish(box->digest, value);
  compatcrypt_bind_digest_destroy(box->digest);
  box->digest = nullptr;
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env, result, "digest.digest");
  napi_value buffer;
  if (!CopyBuffer(env, value, sizeof value, &buffer)) return nullptr;
  return buffer;
}

CoderBox *LiveCoder(napi_env env, napi_value value, const char *what) {
  auto *box = Unwrap<CoderBox>(env, value, &kCoderTag, "a coder");
  if (box == nullptr) return nullptr;
  if (box->coder == nullptr) {
    Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_STREAM_DESTROYED",
          std::string(what) + ": the stream was ended or destroyed");
    return nullptr;
  }
  if (box->busy) {
    Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_STATE",
          std::string(what) + ": the stream is busy on the thread pool");
    return nullptr;
  }
  return box;
}

// coderNew(direction, key) -> handle
napi_value CoderNew(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int direction = 0;
  GetInt32(env, args[0], &direction);
  const char *what = direction == COMPATCRYPT_BIND_ENCODE ? "createEncoder" : "createDecoder";
  KeyBox *key = ReadKey(env, args[1], what);
  if (key == nullptr) return nullptr;
  auto *box = new (std::nothrow) CoderBox;
  if (box == nullptr) return ThrowSurface(env, COMPATCRYPT_BIND_E_NO_MEMORY, what);
  box->direction = direction;
  const int result = compatcrypt_bind_coder_new(direction, key->bytes, sizeof key->bytes, &box->coder);
  if (result != COMPATCRYPT_BIND_OK) {
    delete box;
    return ThrowSurface(env, result, what);
  }
  return Wrap(env, box, FinalizeCoder, &kCoderTag);
}

// coderUpdate(handle, data) -> Buffer of the whole blocks so far.
napi_value CoderUpdate(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  CoderBox *box = LiveCoder(env, args[0], "update");
  if (box == nullptr) return nullptr;
  Bytes in;
  if (!ReadBytes(env, args[1], "data", &in)) return nullptr;
  const std::size_t size = compatcrypt_bind_coder_update_size(box->coder, in.size);
  napi_value buffer;
  uint8_t *out;
  if (!NewBuffer(env, size, &buffer, &out)) return nullptr;
  std::size_t written = 0;
  const int result = compatcrypt_bind_coder_update(box->coder, in.data, in.size, out, size, &written);
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env, result, "update");
  return buffer;
}

// coderFinish(handle) -> Buffer of the tail; the coder starts a new message.
napi_value CoderFinish(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  CoderBox *box = LiveCoder(env, args[0], "final");
  if (box == nullptr) return nullptr;
  const std::size_t size = compatcrypt_bind_coder_finish_size(box->coder);
  napi_value buffer;
  uint8_t *out;
  if (!NewBuffer(env, size, &buffer, &out)) return nullptr;
  std::size_t written = 0;
  const int result = compatcrypt_bind_coder_finish(box->coder, out, size, &written);
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env, result, "final");
  return buffer;
}

// coderDestroy(handle): the key schedule and held bytes wiped now.
napi_value CoderDestroy(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  auto *box = Unwrap<CoderBox>(env, args[0], &kCoderTag, "a coder");
  if (box == nullptr) return nullptr;
  if (box->busy) {
    box->destroyRequested = true;  // the job destroys it when it completes
  } else if (box->coder != nullptr) {
    compatcrypt_bind_coder_destroy(box->coder);
    box->coder = nullptr;
  }
  return nullptr;
}

}  // namespace

CoderBox *ReadCoder(napi_env env, napi_value value) { return LiveCoder(env, value, "update"); }

bool InitStreams(napi_env env, napi_value exports) {
  return SetFunction(env, exports, "digestNew", DigestNew) &&
         SetFunction(env, exports, "digestCopy", DigestCopy) &&
         SetFunction(env, exports, "digestUpdate", DigestUpdate) &&
         SetFunction(env, exports, "digestFinish", DigestFinish) &&
         SetFunction(env, exports, "coderNew", CoderNew) &&
         SetFunction(env, exports, "coderUpdate", CoderUpdate) &&
         SetFunction(env, exports, "coderFinish", CoderFinish) &&
         SetFunction(env, exports, "coderDestroy", CoderDestroy);
}

}  // namespace compatcrypt::node
