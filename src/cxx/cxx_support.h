// What the C++ interface's files share: the view of std::byte spans as the
// core's bytes, and the placement of core objects in a class's own storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>

namespace compatcrypt::cxx {

inline std::span<const uint8_t> Bytes(std::span<const std::byte> data) {
  return {reinterpret_cast<const uint8_t *>(data.data()), data.size()};
}

inline uint8_t *Bytes(std::span<std::byte> data) { return reinterpret_cast<uint8_t *>(data.data()); }

// The core object a class keeps in `storage` (constructed there with
// placement new).
template <typename T, std::size_t N>
T &Held(unsigned char (&storage)[N]) {
  static_assert(sizeof(T) <= N, "the core object no longer fits the class's storage");
  return *std::launder(reinterpret_cast<T *>(storage));
}

template <typename T, std::size_t N>
const T &Held(const unsigned char (&storage)[N]) {
  static_assert(sizeof(T) <= N, "the core object no longer fits the class's storage");
  return *std::launder(reinterpret_cast<const T *>(storage));
}

}  // namespace compatcrypt::cxx
