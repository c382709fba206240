// The digest over spans, files and streams. The streaming class keeps the
// library's running sums and at most one unfinished 64-byte block; since
// every block is compressed on its own and only summed, the sums depend on
// the blocks alone, never on how the input was cut.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "compatcrypt.h"
#include "compatcrypt.hpp"
#include "cxx/result_check.h"
#include "digest/digest_accumulator.h"
#include "digest/digest_constants.h"
#include "support/secure_wipe.h"

namespace compatcrypt::inline v1 {

namespace {

constexpr std::size_t kBlock = digest_core::kBlockSize;

}  // namespace

struct Digest::State {
  digest_core::DigestAccumulator accumulator;
  unsigned char partial[kBlock] = {};
  std::size_t partialLen = 0;
  // The total byte count, modulo 2^32 as the closing block stores it.
  std::uint32_t byteCount = 0;

  void Reset() {
    accumulator = digest_core::DigestAccumulator{};
    SecureWipe(partial);
    partialLen = 0;
    byteCount = 0;
  }
  ~State() { SecureWipe(partial); }
};

Digest::Digest() : state_(std::make_unique<State>()) {}
Digest::~Digest() = default;
Digest::Digest(Digest &&) noexcept = default;
Digest &Digest::operator=(Digest &&) noexcept = default;

Digest &Digest::update(std::span<const std::byte> data) {
  if (!state_) throw Error(COMPATCRYPT_ERROR, "Digest used after being moved from");
  State &s = *state_;
  const unsigned char *p = cxx::Bytes(data);
  std::size_t n = data.size();
  // Truncation is the wrap of the count: only its low 32 bits are stored.
  s.byteCount += static_cast<std::uint32_t>(n);
  if (s.partialLen != 0) {
    const std::size_t take = std::min(kBlock - s.partialLen, n);
    if (take != 0) std::memcpy(s.partial + s.partialLen, p, take);
    s.partialLen += take;
    p += take;
    n -= take;
    if (s.partialLen < kBlock) return *this;
    s.accumulator.AddBlocks(s.partial, 1);
    s.partialLen = 0;
  }
  const std::size_t whole = n / kBlock;
  s.accumulator.AddBlocks(p, whole);
  s.partialLen = n % kBlock;
  if (s.partialLen != 0) std::memcpy(s.partial, p + whole * kBlock, s.partialLen);
  return *this;
}

DigestValue Digest::finish() {
  if (!state_) throw Error(COMPATCRYPT_ERROR, "Digest used after being moved from");
  DigestValue value{};
  state_->accumulator.Finish(state_->partial, state_->partialLen, state_->byteCount,
                             reinterpret_cast<unsigned char *>(value.data()));
  state_->Reset();
  return value;
}

DigestValue digest(std::span<const std::byte> data) {
  if (!cxx::FitsCLength(data.size())) return Digest().update(data).finish();
  DigestValue value{};
  std::int32_t valueLen = 0;
  const std::int32_t result =
      MessageDigest(cxx::Bytes(data), static_cast<std::int32_t>(data.size()),
                    reinterpret_cast<unsigned char *>(value.data()), &valueLen, COMPATCRYPT_MODE);
  cxx::CheckResult(result, "MessageDigest");
  if (valueLen != static_cast<std::int32_t>(kDigestSize))
    throw Error(COMPATCRYPT_ERROR, "MessageDigest returned " + std::to_string(valueLen) + " bytes");
  return value;
}

DigestValue file_digest(const std::filesystem::path &path, std::int32_t offset) {
  const std::string name = path.string();
  if (offset < 0) throw Error(COMPATCRYPT_FAILED, name + ": negative offset " + std::to_string(offset));
  DigestValue value{};
  std::int32_t valueLen = 0;
  // The C function reports only that the file could not be opened or read;
  // errno, where the failing call left one, tells why.
  errno = 0;
  const std::int32_t result =
      FileDigest(reinterpret_cast<const unsigned char *>(name.c_str()), offset,
                 reinterpret_cast<unsigned char *>(value.data()), &valueLen, COMPATCRYPT_MODE);
  const int cause = errno;
  if (result != COMPATCRYPT_OK) {
    const std::string why = cause != 0 ? std::strerror(cause) : "cannot be opened, positioned or read";
    throw Error(result, name + ": " + why);
  }
  if (valueLen != static_cast<std::int32_t>(kDigestSize))
    throw Error(COMPATCRYPT_ERROR, "FileDigest returned " + std::to_string(valueLen) + " bytes");
  return value;
}

}  // namespace compatcrypt::inline v1
