// The surface's objects for the length of one call: in memory of the
// caller's frame when they fit (no allocation per call), else from `_new`;
// destroyed, and so wiped, when they go.
#pragma once

#include <cstddef>

#include "compatcrypt_bind.h"

namespace compatcrypt::node {

inline constexpr std::size_t kFrameBytes = 4096;

class FrameDigest {
 public:
  FrameDigest() {
    result_ = compatcrypt_bind_digest_size() <= sizeof memory_
                  ? compatcrypt_bind_digest_init(memory_, sizeof memory_, &digest_)
                  : compatcrypt_bind_digest_new(&digest_);
  }
  ~FrameDigest() {
    if (digest_ != nullptr) compatcrypt_bind_digest_destroy(digest_);
  }
  FrameDigest(const FrameDigest &) = delete;
  FrameDigest &operator=(const FrameDigest &) = delete;
  int result() const { return result_; }
  compatcrypt_bind_digest *get() const { return digest_; }

 private:
  alignas(64) unsigned char memory_[kFrameBytes];
  compatcrypt_bind_digest *digest_ = nullptr;
  int result_;
};

class FrameCoder {
 public:
  FrameCoder(int direction, const uint8_t *key, std::size_t keySize) {
    result_ = compatcrypt_bind_coder_size() <= sizeof memory_
                  ? compatcrypt_bind_coder_init(memory_, sizeof memory_, direction, key, keySize, &coder_)
                  : compatcrypt_bind_coder_new(direction, key, keySize, &coder_);
  }
  ~FrameCoder() {
    if (coder_ != nullptr) compatcrypt_bind_coder_destroy(coder_);
  }
  FrameCoder(const FrameCoder &) = delete;
  FrameCoder &operator=(const FrameCoder &) = delete;
  int result() const { return result_; }
  compatcrypt_bind_coder *get() const { return coder_; }

 private:
  alignas(64) unsigned char memory_[kFrameBytes];
  compatcrypt_bind_coder *coder_ = nullptr;
  int result_;
};

// One message through a coder: update, then finish for the tail. `out`
// has room for `size` bytes; it may be `in`.
inline int CodeMessage(compatcrypt_bind_coder *coder, const void *in, std::size_t size, void *out) {
  std::size_t written = 0;
  int result = compatcrypt_bind_coder_update(coder, in, size, out, size, &written);
  if (result != COMPATCRYPT_BIND_OK) return result;
  std::size_t tail = 0;
  return compatcrypt_bind_coder_finish(coder, static_cast<unsigned char *>(out) + written, size - written,
                                       &tail);
}

}  // namespace compatcrypt::node
