// The synchronous calls: the whole input in one call on the JavaScript
// thread, for small inputs (the Promise forms in jobs.cpp run on the
// thread pool).
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "addon.h"
#include "file_error.h"
#include "objects.h"
#include "records.h"

namespace compatcrypt::node {

namespace {

bool ReadDirection(napi_env env, napi_value value, int *direction) {
  if (!GetInt32(env, value, direction) ||
      (*direction != COMPATCRYPT_BIND_ENCODE && *direction != COMPATCRYPT_BIND_DECODE)) {
    Throw(env, ErrorKind::error, "ERR_COMPATCRYPT_INTERNAL", "unknown direction");
    return false;
  }
  return true;
}

const char *Verb(int direction) { return direction == COMPATCRYPT_BIND_ENCODE ? "encode" : "decode"; }

// An output given by the caller: as long as the input, and either the
// input itself or apart from it.
bool ReadOut(napi_env env, napi_value value, const Bytes &in, Bytes *out) {
  if (!ReadBytes(env, value, "out", out)) return false;
  if (out->size != in.size) {
    Throw(env, ErrorKind::range, "ERR_COMPATCRYPT_OUT",
          "out must be as long as data: " + std::to_string(out->size) + " bytes, not " +
              std::to_string(in.size));
    return false;
  }
  const bool apart = in.size == 0 || out->data == in.data || out->data + out->size <= in.data ||
                     in.data + in.size <= out->data;
  if (!apart) {
    Throw(env, ErrorKind::range, "ERR_COMPATCRYPT_OUT", "out must be data itself or lie apart from it");
    return false;
  }
  return true;
}

// digest(data, out): the digest into `out`, a Buffer of 20 bytes the
// JavaScript side takes from Node's pool (making a Buffer here costs
// several times the digest of a short input).
napi_value Digest(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  Bytes in, out;
  if (!ReadBytes(env, args[0], "data", &in)) return nullptr;
  if (!ReadBytes(env, args[1], "out", &out)) return nullptr;
  if (out.size != COMPATCRYPT_BIND_DIGEST_BYTES)
    return ThrowSurface(env, COMPATCRYPT_BIND_E_OUTPUT_SIZE, "digest");
  FrameDigest digest;
  int result = digest.result();
  if (result == COMPATCRYPT_BIND_OK) result = compatcrypt_bind_digest_update(digest.get(), in.data, in.size);
  if (result == COMPATCRYPT_BIND_OK) result = compatcrypt_bind_digest_finish(digest.get(), out.data);
  if (result != COMPATCRYPT_BIND_OK) return ThrowSurface(env, result, "digest");
  return nullptr;
}

// The output of a coding as long as `in`: the caller's `out` (checked by
// ReadOut), or a new Buffer when `out` is undefined. False after throwing.
bool OutputFor(napi_env env, napi_value out, const Bytes &in, napi_value *result, uint8_t **target) {
  napi_valuetype outType;
  if (napi_typeof(env, out, &outType) != napi_ok) {
    ThrowStatus(env, napi_generic_failure);
    return false;
  }
  if (outType == napi_undefined) return NewBuffer(env, in.size, result, target);
  Bytes given;
  if (!ReadOut(env, out, in, &given)) return false;
  *result = out;
  *target = given.data;
  return true;
}

// code(direction, data, key, out?) -> Buffer (or out)
napi_value Code(napi_env env, napi_callback_info info) {
  Args<4> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int direction;
  if (!ReadDirection(env, args[0], &direction)) return nullptr;
  Bytes in;
  if (!ReadBytes(env, args[1], "data", &in)) return nullptr;
  KeyBox *key = ReadKey(env, args[2], Verb(direction));
  if (key == nullptr) return nullptr;
  napi_value result;
  uint8_t *target;
  if (!OutputFor(env, args[3], in, &result, &target)) return nullptr;
  FrameCoder coder(direction, key->bytes, sizeof key->bytes);
  int code = coder.result();
  if (code == COMPATCRYPT_BIND_OK) code = CodeMessage(coder.get(), in.data, in.size, target);
  if (code != COMPATCRYPT_BIND_OK) return ThrowSurface(env, code, Verb(direction));
  return result;
}

// batchList(direction, records, key) -> Buffer: the coded records back to
// back (the JavaScript side cuts it into one view per record), copied there
// and coded in place by the surface's batch call: one key schedule, and the
// blocks of many records through the batch engines at once.
napi_value BatchList(napi_env env, napi_callback_info info) {
  Args<3> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int direction;
  if (!ReadDirection(env, args[0], &direction)) return nullptr;
  std::vector<Bytes> records;
  if (!ReadRecordList(env, args[1], &records)) return nullptr;
  KeyBox *key = ReadKey(env, args[2], Verb(direction));
  if (key == nullptr) return nullptr;
  std::vector<std::size_t> offsets{0};
  for (const Bytes &record : records) offsets.push_back(offsets.back() + record.size);
  napi_value result;
  uint8_t *target;
  if (!NewBuffer(env, offsets.back(), &result, &target)) return nullptr;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records[i].size > 0) std::memcpy(target + offsets[i], records[i].data, records[i].size);
  FrameCoder coder(direction, key->bytes, sizeof key->bytes);
  int code = coder.result();
  if (code == COMPATCRYPT_BIND_OK)
    code = compatcrypt_bind_coder_batch(coder.get(), target, offsets.data(), records.size(), target,
                                        offsets.back());
  if (code != COMPATCRYPT_BIND_OK) return ThrowSurface(env, code, std::string(Verb(direction)) + "Batch");
  return result;
}

// batchFlat(direction, data, offsets, key, out?) -> Buffer (or out): the
// records data[offsets[i] .. offsets[i + 1]) coded in the same layout by
// the surface's batch call; bytes before the first record and after the
// last are copied.
napi_value BatchFlat(napi_env env, napi_callback_info info) {
  Args<5> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int direction;
  if (!ReadDirection(env, args[0], &direction)) return nullptr;
  Bytes in;
  if (!ReadBytes(env, args[1], "data", &in)) return nullptr;
  std::vector<std::size_t> offsets;
  if (!ReadOffsets(env, args[2], in.size, &offsets)) return nullptr;
  KeyBox *key = ReadKey(env, args[3], Verb(direction));
  if (key == nullptr) return nullptr;
  napi_value result;
  uint8_t *target;
  if (!OutputFor(env, args[4], in, &result, &target)) return nullptr;
  const std::size_t first = offsets.front(), end = offsets.back();
  if (target != in.data && in.size > 0) {
    std::memcpy(target, in.data, first);
    std::memcpy(target + end, in.data + end, in.size - end);
  }
  FrameCoder coder(direction, key->bytes, sizeof key->bytes);
  int code = coder.result();
  if (code == COMPATCRYPT_BIND_OK)
    code = compatcrypt_bind_coder_batch(coder.get(), in.data, offsets.data(), offsets.size() - 1, target,
                                        in.size);
  if (code != COMPATCRYPT_BIND_OK) return ThrowSurface(env, code, std::string(Verb(direction)) + "BatchFlat");
  return result;
}

// fileDigest(path, offset) -> Buffer, read to the end on this thread.
napi_value FileDigest(napi_env env, napi_callback_info info) {
  Args<2> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  std::string path;
  int64_t offset = 0;
  if (!ReadPath(env, args[0], &path) || !ReadFileOffset(env, args[1], &offset)) return nullptr;
  FileRead read;
  read.Run(path, offset, compatcrypt_bind_piece_bytes());
  if (read.result != COMPATCRYPT_BIND_OK) {
    napi_throw(env, FileError(env, read.result, read.osError, path, "fileDigest"));
    return nullptr;
  }
  napi_value buffer;
  if (!CopyBuffer(env, read.digest, sizeof read.digest, &buffer)) return nullptr;
  return buffer;
}

napi_value PieceBytes(napi_env env, napi_callback_info) {
  napi_value value;
  CC_CALL(env, napi_create_double(env, static_cast<double>(compatcrypt_bind_piece_bytes()), &value));
  return value;
}

// message(code) -> the library's sentence for a result code.
napi_value Message(napi_env env, napi_callback_info info) {
  Args<1> args;
  if (!args.Read(env, info)) return ThrowStatus(env, napi_generic_failure);
  int32_t code = 0;
  GetInt32(env, args[0], &code);
  napi_value value;
  CC_CALL(env, napi_create_string_utf8(env, compatcrypt_bind_message(code), NAPI_AUTO_LENGTH, &value));
  return value;
}

napi_value BindingVersion(napi_env env, napi_callback_info) {
  napi_value value;
  CC_CALL(env, napi_create_uint32(env, compatcrypt_bind_version(), &value));
  return value;
}

}  // namespace

bool InitOneShot(napi_env env, napi_value exports) {
  return SetFunction(env, exports, "digest", Digest) && SetFunction(env, exports, "code", Code) &&
         SetFunction(env, exports, "batchList", BatchList) &&
         SetFunction(env, exports, "batchFlat", BatchFlat) &&
         SetFunction(env, exports, "fileDigest", FileDigest) &&
         SetFunction(env, exports, "pieceBytes", PieceBytes) &&
         SetFunction(env, exports, "bindingVersion", BindingVersion) &&
         SetFunction(env, exports, "message", Message);
}

}  // namespace compatcrypt::node
