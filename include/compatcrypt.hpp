// compatcrypt for C++: digests, two-key triple-DES encoding and password
// keys over std::byte spans, with streaming digest and coder classes and
// exceptions instead of result codes. Link compatcrypt::cxx (CMake) or
// pkg-config compatcrypt-cxx; this header needs nothing else.
//
// Every result is byte for byte what the C functions of compatcrypt.h give
// for the same input, and the streaming classes give it for any way of
// cutting the input into pieces. Lengths are std::size_t here: inputs of
// 2 GiB and more follow the same formats (the digest's byte count wraps
// modulo 2^32).
//
// Secrets (keys, key schedules, plain data held back by a coder) are wiped
// when they are no longer needed; decoded data comes back in SecureBytes,
// which wipes itself. Objects hold their state by value and may be copied
// and moved freely; a moved-from object is still a valid object.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GNUC__)
#define COMPATCRYPT_CXX_API __attribute__((visibility("default")))
#else
#define COMPATCRYPT_CXX_API
#endif

// The interface sits in an inline namespace: its names are used as
// compatcrypt::name, and a future incompatible version can sit beside it.
namespace compatcrypt {
inline namespace v1 {

// The result codes of the C functions, which Error::code() carries.
namespace result {
inline constexpr int ok = 1;
inline constexpr int wrong_mode = -1;
inline constexpr int failed = -2;  // a file that cannot be read, a malformed key
inline constexpr int error = -3;   // an argument that cannot be used
}  // namespace result

// A failure: code() is result::failed (a file that cannot be opened,
// positioned or read; a key that is not 32 hex digits) or result::error (an
// output span too small for what a call writes).
class COMPATCRYPT_CXX_API Error : public std::runtime_error {
 public:
  Error(int code, const std::string &message);
  ~Error() override;
  int code() const noexcept { return code_; }

 private:
  int code_;
};

inline constexpr std::size_t kDigestSize = 20;
inline constexpr std::size_t kKeySize = 16;

// Zeroes `size` bytes in a way the compiler cannot drop.
COMPATCRYPT_CXX_API void secure_wipe(void *data, std::size_t size) noexcept;

// An allocator that wipes memory before giving it back, reallocations
// included.
template <typename T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <typename U>
  WipingAllocator(const WipingAllocator<U> &) noexcept {}
  T *allocate(std::size_t n) { return static_cast<T *>(::operator new(n * sizeof(T))); }
  void deallocate(T *p, std::size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    ::operator delete(p);
  }
  template <typename U>
  bool operator==(const WipingAllocator<U> &) const noexcept {
    return true;
  }
};

// Bytes that are wiped when the buffer goes: decoded (plain) data.
using SecureBytes = std::vector<std::byte, WipingAllocator<std::byte>>;

using DigestValue = std::array<std::byte, kDigestSize>;

// The engines this process runs, chosen from the CPU's features, e.g.
// "digest: avx512, short runs on shani; DES: serial vbmi, bitsliced avx512
// from 32 blocks".
COMPATCRYPT_CXX_API std::string engines();

// Lower-case hex, two digits per byte, first byte first.
COMPATCRYPT_CXX_API std::string to_hex(std::span<const std::byte> bytes);

// Digest of `data` (MessageDigest).
COMPATCRYPT_CXX_API DigestValue digest(std::span<const std::byte> data);

// Digest of the file's bytes from `offset` to its end, as FileDigest gives
// it, for any file offset from 0 to 2^63 - 1 (FileDigest takes 31 bits); an
// offset at or past the end digests zero bytes. Throws Error (result::failed)
// naming the file and the reason when it cannot be opened, positioned or
// read, or when `offset` is negative.
COMPATCRYPT_CXX_API DigestValue file_digest(const std::filesystem::path &path, std::int64_t offset = 0);

// Streaming digest: finish() equals digest() of everything given to
// update() since construction or the last finish(), however it was cut,
// and leaves the object ready for a new message. A copy carries on
// independently, for digests of several messages sharing a prefix.
class COMPATCRYPT_CXX_API Digest {
 public:
  Digest() noexcept;
  Digest(const Digest &other) noexcept;
  Digest &operator=(const Digest &other) noexcept;
  ~Digest();

  Digest &update(std::span<const std::byte> data) noexcept;
  DigestValue finish() noexcept;

  // Joins the digest of the data that follows: afterwards this object
  // stands for its own data followed by `later`'s. Blocks are summed, not
  // chained, so the pieces of one message may be digested apart (on other
  // threads) and joined in order. This object's data must be a whole number
  // of 64-byte blocks; otherwise throws Error (result::error), unchanged.
  Digest &append(const Digest &later);

 private:
  alignas(8) unsigned char state_[128];
};

// A 16-byte cipher key: the even-numbered bytes form the outer DES key, the
// odd-numbered bytes the middle one. The bytes are wiped on destruction.
class COMPATCRYPT_CXX_API Key {
 public:
  explicit Key(std::span<const std::byte, kKeySize> bytes) noexcept;
  Key(const Key &) noexcept = default;
  Key &operator=(const Key &) noexcept = default;
  ~Key();

  // The key KeyGenerating derives from exactly these bytes (EncodeKey and
  // DecodeKey derive theirs from the bytes before the first NUL).
  static Key from_password(std::string_view password);
  // Exactly 32 hex digits of either case; anything else throws Error
  // (result::failed).
  static Key from_hex(std::string_view hex);

  std::string to_hex() const;
  std::span<const std::byte, kKeySize> bytes() const noexcept { return bytes_; }

 private:
  std::array<std::byte, kKeySize> bytes_;
};

// Exported with the API: Coder's instantiations carry its visibility.
enum class COMPATCRYPT_CXX_API Direction { encode, decode };

// Streaming encoder (Encoder) or decoder (Decoder): the outputs of every
// update() followed by finish(), concatenated, equal encode() or decode() of
// the concatenated inputs. Whole 8-byte blocks come out as soon as they are
// complete; the bytes of an unfinished block (at most 7) are held back,
// since only finish() knows they are the tail. finish() leaves the object
// ready for a new message under the same key.
//
// The span forms write into the caller's memory: update() writes
// update_size(in.size()) bytes, finish() finish_size() bytes, and both throw
// Error (result::error) if `out` is shorter. Coding in place: `out` may
// overlap `in` when it starts at least finish_size() bytes before it (the
// held bytes), as in one buffer coded with a write position that trails the
// read position; with nothing held, `out` may be `in`.
template <Direction D>
class COMPATCRYPT_CXX_API Coder {
 public:
  // Encoded bytes are not secret; decoded ones wipe themselves.
  using buffer_type = std::conditional_t<D == Direction::decode, SecureBytes, std::vector<std::byte>>;

  explicit Coder(const Key &key) noexcept;
  Coder(const Coder &other) noexcept;
  Coder &operator=(const Coder &other) noexcept;
  ~Coder();

  std::size_t update_size(std::size_t in_size) const noexcept;
  std::size_t finish_size() const noexcept;

  std::size_t update(std::span<const std::byte> in, std::span<std::byte> out);
  std::size_t finish(std::span<std::byte> out);

  buffer_type update(std::span<const std::byte> in);
  buffer_type finish();

 private:
  alignas(16) unsigned char state_[512];
};

extern template class Coder<Direction::encode>;
extern template class Coder<Direction::decode>;

using Encoder = Coder<Direction::encode>;
using Decoder = Coder<Direction::decode>;

// EncodeFunction / DecodeFunction: the output is as long as the input.
COMPATCRYPT_CXX_API std::vector<std::byte> encode(std::span<const std::byte> data, const Key &key);
COMPATCRYPT_CXX_API SecureBytes decode(std::span<const std::byte> data, const Key &key);

// Batches: many independent buffers under one key in one call, each coded
// exactly as encode() or decode() codes it alone (tails and inputs of 1 to 7
// bytes included). The blocks of all buffers run through the widest engine
// the CPU has, many at a time; encoding runs each buffer's CBC chain in a
// lane of its own, so a batch of records encodes in parallel although each
// record is a chain. out[i] receives the coding of in[i]: it must be exactly
// as long, and either be in[i] itself or overlap no buffer of the batch.
// Throws Error (result::error), with nothing written, if the counts or any
// lengths differ.
COMPATCRYPT_CXX_API void encode_batch(const Key &key, std::span<const std::span<const std::byte>> in,
                                      std::span<const std::span<std::byte>> out);
COMPATCRYPT_CXX_API void decode_batch(const Key &key, std::span<const std::span<const std::byte>> in,
                                      std::span<const std::span<std::byte>> out);
// In place: every buffer is replaced by its coding.
COMPATCRYPT_CXX_API void encode_batch(const Key &key, std::span<const std::span<std::byte>> buffers);
COMPATCRYPT_CXX_API void decode_batch(const Key &key, std::span<const std::span<std::byte>> buffers);

}  // namespace v1
}  // namespace compatcrypt
