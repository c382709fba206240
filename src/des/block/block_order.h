// A DES block is 8 bytes; the standard numbers its bits from the first
// byte's most significant bit. Two word forms of a block are used:
//   - the big-endian word (first byte most significant): the form the
//     serial engines compute on, where bit numbers map to shifts;
//   - the memory-order word (the bytes as they lie, loaded natively): the
//     form every interface above the engines passes, chain values included,
//     since CBC only XORs blocks and byte order does not matter to XOR.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace compatcrypt::des {

inline constexpr std::size_t kBlockBytes = 8;

// One load and a byte swap (GCC does not merge the byte-by-byte form),
// which matters where the block starts a chain of dependent work.
inline uint64_t LoadBlock(const unsigned char *p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  return x;
}

inline void StoreBlock(uint64_t x, unsigned char *p) {
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  std::memcpy(p, &x, sizeof x);
}

inline uint64_t LoadRaw(const unsigned char *p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

inline void StoreRaw(uint64_t x, unsigned char *p) { std::memcpy(p, &x, sizeof x); }

// Between the two forms: the same exchange both ways.
constexpr uint64_t SwapBlockOrder(uint64_t x) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(x);
  return x;
}

}  // namespace compatcrypt::des
