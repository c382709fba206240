// compatcrypt for C++: digests, two-key triple-DES encoding and password
// keys over std::byte spans, with streaming digest and coder classes and
// exceptions instead of result codes.
//
// Every result is byte for byte what the C functions of compatcrypt.h give
// for the same input; the streaming classes give it for any way of cutting
// the input into pieces. Inputs longer than the C functions accept (2^31 - 1
// bytes) are handled by the streaming classes, which follow the same byte
// format: the digest's byte count wraps modulo 2^32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The interface sits in an inline namespace: its names are used as
// compatcrypt::name, while the library's own code keeps inner namespaces
// (such as compatcrypt::des) apart from them.
namespace compatcrypt {
inline namespace v1 {

// A failure of a C function (code() is its result code: COMPATCRYPT_FAILED
// or COMPATCRYPT_ERROR, see compatcrypt.h) or of this layer: a key that is
// not 32 hex digits (COMPATCRYPT_FAILED), a moved-from object or an input
// too large to describe (COMPATCRYPT_ERROR).
class Error : public std::runtime_error {
 public:
  Error(int code, const std::string &message) : std::runtime_error(message), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

inline constexpr std::size_t kDigestSize = 20;
inline constexpr std::size_t kKeySize = 16;

using DigestValue = std::array<std::byte, kDigestSize>;

// Lower-case hex, two digits per byte, first byte first.
std::string to_hex(std::span<const std::byte> bytes);

// Digest of `data` (MessageDigest).
DigestValue digest(std::span<const std::byte> data);

// Digest of the file's bytes from `offset` to its end (FileDigest); an
// offset at or past the end digests zero bytes. Throws Error naming the
// file when it cannot be opened, positioned or read.
DigestValue file_digest(const std::filesystem::path &path, std::int32_t offset = 0);

// Streaming digest: finish() equals digest() of everything given to
// update() since construction or the last finish(), however it was cut.
// finish() leaves the object ready for a new message.
class Digest {
 public:
  Digest();
  ~Digest();
  Digest(Digest &&) noexcept;
  Digest &operator=(Digest &&) noexcept;
  Digest(const Digest &) = delete;
  Digest &operator=(const Digest &) = delete;

  Digest &update(std::span<const std::byte> data);
  DigestValue finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A 16-byte cipher key: the even-numbered bytes form the outer DES key, the
// odd-numbered bytes the middle one. The bytes are wiped on destruction.
class Key {
 public:
  explicit Key(std::span<const std::byte, kKeySize> bytes) noexcept;
  Key(const Key &) noexcept = default;
  Key &operator=(const Key &) noexcept = default;
  ~Key();

  // The key KeyGenerating derives from exactly these bytes (EncodeKey and
  // DecodeKey derive theirs from the bytes before the first NUL).
  static Key from_password(std::string_view password);
  // Exactly 32 hex digits of either case; anything else throws Error.
  static Key from_hex(std::string_view hex);

  std::string to_hex() const;
  std::span<const std::byte, kKeySize> bytes() const noexcept { return bytes_; }

 private:
  std::array<std::byte, kKeySize> bytes_;
};

// EncodeFunction / DecodeFunction: the output is as long as the input.
std::vector<std::byte> encode(std::span<const std::byte> data, const Key &key);
std::vector<std::byte> decode(std::span<const std::byte> data, const Key &key);

namespace detail {
struct CoderState;
}

// Streaming encoder: the outputs of every update() followed by finish(),
// concatenated, equal encode() of the concatenated inputs. Whole blocks are
// returned as soon as they are complete; the bytes of an unfinished block
// (at most 7) are held back, since only finish() knows they are the tail.
// finish() leaves the object ready for a new message under the same key.
class Encoder {
 public:
  explicit Encoder(const Key &key);
  ~Encoder();
  Encoder(Encoder &&) noexcept;
  Encoder &operator=(Encoder &&) noexcept;
  Encoder(const Encoder &) = delete;
  Encoder &operator=(const Encoder &) = delete;

  std::vector<std::byte> update(std::span<const std::byte> data);
  std::vector<std::byte> finish();

 private:
  std::unique_ptr<detail::CoderState> state_;
};

// Streaming decoder, the inverse of Encoder, with the same contract
// against decode().
class Decoder {
 public:
  explicit Decoder(const Key &key);
  ~Decoder();
  Decoder(Decoder &&) noexcept;
  Decoder &operator=(Decoder &&) noexcept;
  Decoder(const Decoder &) = delete;
  Decoder &operator=(const Decoder &) = delete;

  std::vector<std::byte> update(std::span<const std::byte> data);
  std::vector<std::byte> finish();

 private:
  std::unique_ptr<detail::CoderState> state_;
};

}  // namespace v1
}  // namespace compatcrypt
