// The digest as a stream and the file digest read in pieces, on the core's
// digest stream and file reader: the same bytes as MessageDigest and
// FileDigest give, however the data is cut.
#include <cerrno>
#include <cstring>

#include "binding/bind_object.h"
#include "digest_core/digest_file.h"
#include "digest_core/digest_stream.h"

using namespace compatcrypt;
using namespace compatcrypt::binding;

namespace {

using DigestObject = Tagged<digest_core::DigestStream, Kind::digest>;

// A file and where its reading stands: calls out of order are refused.
struct FileState {
  enum class Stage { closed, reading, ended, finished, failed };
  digest_core::DigestFile file;
  Stage stage = Stage::closed;
};
using FileObject = Tagged<FileState, Kind::file>;

std::span<uint8_t, digest_core::kDigestBytes> DigestOut(uint8_t *out) {
  return std::span<uint8_t, digest_core::kDigestBytes>(out, digest_core::kDigestBytes);
}

void SetError(int *os_error, int value) {
  if (os_error != nullptr) *os_error = value;
}

}  // namespace

static_assert(COMPATCRYPT_BIND_DIGEST_BYTES == digest_core::kDigestBytes);
static_assert(COMPATCRYPT_BIND_DIGEST_BLOCK_BYTES == digest_core::kBlockSize);

extern "C" {

size_t compatcrypt_bind_digest_size(void) { return RoomFor<DigestObject>(); }

int compatcrypt_bind_digest_init(void *memory, size_t size, compatcrypt_bind_digest **out) {
  return Make<DigestObject>(memory, size, false, out);
}

int compatcrypt_bind_digest_new(compatcrypt_bind_digest **out) {
  return Make<DigestObject>(nullptr, 0, true, out);
}

int compatcrypt_bind_digest_copy(const compatcrypt_bind_digest *from, void *memory, size_t size,
                                 compatcrypt_bind_digest **out) {
  const DigestObject *source = Live<DigestObject>(from);
  if (source == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  return Make<DigestObject>(memory, size, memory == nullptr, out, source->object);
}

int compatcrypt_bind_digest_update(compatcrypt_bind_digest *digest, const void *data, size_t size) {
  DigestObject *self = Live<DigestObject>(digest);
  if (self == nullptr || (data == nullptr && size > 0)) return COMPATCRYPT_BIND_E_ARGUMENT;
  return RunAndBurn([&] {
    self->object.Update({static_cast<const uint8_t *>(data), size});
    return COMPATCRYPT_BIND_OK;
  });
}

int compatcrypt_bind_digest_value(const compatcrypt_bind_digest *digest,
                                  uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES]) {
  const DigestObject *self = Live<DigestObject>(digest);
  if (self == nullptr || out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  return RunAndBurn([&] {
    digest_core::DigestStream copy(self->object);
    copy.Finish(DigestOut(out));
    return COMPATCRYPT_BIND_OK;
  });
}

int compatcrypt_bind_digest_finish(compatcrypt_bind_digest *digest,
                                   uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES]) {
  DigestObject *self = Live<DigestObject>(digest);
  if (self == nullptr || out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  return RunAndBurn([&] {
    self->object.Finish(DigestOut(out));
    return COMPATCRYPT_BIND_OK;
  });
}

int compatcrypt_bind_digest_destroy(compatcrypt_bind_digest *digest) { return Destroy<DigestObject>(digest); }

size_t compatcrypt_bind_file_size(void) { return RoomFor<FileObject>(); }

int compatcrypt_bind_file_init(void *memory, size_t size, compatcrypt_bind_file **out) {
  return Make<FileObject>(memory, size, false, out);
}

int compatcrypt_bind_file_new(compatcrypt_bind_file **out) { return Make<FileObject>(nullptr, 0, true, out); }

int compatcrypt_bind_file_open(compatcrypt_bind_file *file, const char *path, int64_t offset, int *os_error) {
  FileObject *self = Live<FileObject>(file);
  if (self == nullptr || path == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (self->object.stage != FileState::Stage::closed) return COMPATCRYPT_BIND_E_STATE;
  if (offset < 0) {
    SetError(os_error, EINVAL);
    return COMPATCRYPT_BIND_E_FILE;
  }
  errno = 0;
  if (!self->object.file.Open(path, offset)) {
    self->object.stage = FileState::Stage::failed;
    SetError(os_error, errno);
    return COMPATCRYPT_BIND_E_FILE;
  }
  self->object.stage = FileState::Stage::reading;
  return COMPATCRYPT_BIND_OK;
}

int compatcrypt_bind_file_read(compatcrypt_bind_file *file, size_t limit, int *done, int *os_error) {
  FileObject *self = Live<FileObject>(file);
  if (self == nullptr || done == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  *done = 0;
  if (self->object.stage == FileState::Stage::ended) {
    *done = 1;
    return COMPATCRYPT_BIND_OK;
  }
  if (self->object.stage != FileState::Stage::reading) return COMPATCRYPT_BIND_E_STATE;
  switch (self->object.file.Read(limit)) {
    case digest_core::DigestFile::Step::more:
      return COMPATCRYPT_BIND_OK;
    case digest_core::DigestFile::Step::end:
      self->object.stage = FileState::Stage::ended;
      *done = 1;
      return COMPATCRYPT_BIND_OK;
    case digest_core::DigestFile::Step::failed:
      break;
  }
  self->object.stage = FileState::Stage::failed;
  SetError(os_error, errno);
  return COMPATCRYPT_BIND_E_FILE;
}

int compatcrypt_bind_file_finish(compatcrypt_bind_file *file, uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES]) {
  FileObject *self = Live<FileObject>(file);
  if (self == nullptr || out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (self->object.stage != FileState::Stage::ended) return COMPATCRYPT_BIND_E_STATE;
  self->object.file.Finish(DigestOut(out));
  self->object.stage = FileState::Stage::finished;  // one digest per opening
  return COMPATCRYPT_BIND_OK;
}

int compatcrypt_bind_file_destroy(compatcrypt_bind_file *file) { return Destroy<FileObject>(file); }

}  // extern "C"
