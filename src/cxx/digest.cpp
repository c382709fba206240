// The digest over spans and files, and the streaming Digest, all on the
// core's digest stream.
#include <cerrno>
#include <cstring>
#include <string>

#include "compatcrypt.hpp"
#include "cxx/cxx_support.h"
#include "digest_core/digest_file.h"
#include "digest_core/digest_stream.h"
#include "support/stack_burn.h"

namespace compatcrypt::inline v1 {

namespace {

using digest_core::DigestStream;

std::span<uint8_t, kDigestSize> Out(DigestValue &value) {
  return std::span<uint8_t, kDigestSize>(reinterpret_cast<uint8_t *>(value.data()), kDigestSize);
}

}  // namespace

Digest::Digest() noexcept { new (state_) DigestStream(); }

Digest::Digest(const Digest &other) noexcept {
  new (state_) DigestStream(cxx::Held<DigestStream>(other.state_));
}

Digest &Digest::operator=(const Digest &other) noexcept {
  cxx::Held<DigestStream>(state_) = cxx::Held<DigestStream>(other.state_);
  return *this;
}

Digest::~Digest() { cxx::Held<DigestStream>(state_).~DigestStream(); }

Digest &Digest::update(std::span<const std::byte> data) noexcept {
  RunAndBurn([&] {
    cxx::Held<DigestStream>(state_).Update(cxx::Bytes(data));
    return 0;
  });
  return *this;
}

Digest &Digest::append(const Digest &later) {
  if (!cxx::Held<DigestStream>(state_).Append(cxx::Held<DigestStream>(later.state_)))
    throw Error(result::error, "Digest::append: the data so far is not a whole number of 64-byte blocks");
  return *this;
}

DigestValue Digest::finish() noexcept {
  DigestValue value{};
  RunAndBurn([&] {
    cxx::Held<DigestStream>(state_).Finish(Out(value));
    return 0;
  });
  return value;
}

DigestValue digest(std::span<const std::byte> data) {
  DigestValue value{};
  RunAndBurn([&] {
    DigestStream stream;
    stream.Update(cxx::Bytes(data));
    stream.Finish(Out(value));
    return 0;
  });
  return value;
}

DigestValue file_digest(const std::filesystem::path &path, std::int64_t offset) {
  const std::string name = path.string();
  if (offset < 0) throw Error(result::failed, name + ": negative offset " + std::to_string(offset));
  DigestValue value{};
  int cause = 0;
  const bool done = RunAndBurn([&] {
    digest_core::DigestFile file;
    errno = 0;
    const bool ok = file.Open(name.c_str(), offset) && file.Digest(Out(value));
    cause = errno;
    return ok;
  });
  if (!done) {
    const std::string why = cause != 0 ? std::strerror(cause) : "cannot be opened, positioned or read";
    throw Error(result::failed, name + ": " + why);
  }
  return value;
}

// The same call with a 32-bit offset, exported and not declared: programs
// linked against libcompatcrypt-cxx.so.1 with that signature keep loading
// and get the same digests.
COMPATCRYPT_CXX_API DigestValue file_digest(const std::filesystem::path &path, std::int32_t offset);
DigestValue file_digest(const std::filesystem::path &path, std::int32_t offset) {
  return file_digest(path, std::int64_t{offset});
}

}  // namespace compatcrypt::inline v1
