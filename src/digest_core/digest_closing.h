// The closing block of a message that fills its last block: all zero but
// the byte count in its last four bytes. Its transform words depend on the
// count alone, so for the counts of short messages (a whole number of
// blocks, up to kClosingTableBlocks of them) they are computed at compile
// time, and such a message costs one block less.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "digest_core/digest_constants.h"
#include "digest_core/digest_transform.h"

namespace compatcrypt::digest_core {

inline constexpr std::size_t kClosingTableBlocks = 64;

using ClosingWords = std::array<uint32_t, 5>;

constexpr ClosingWords EmptyClosingWords(uint32_t count) {
  unsigned char block[kBlockSize] = {};
  block[kBlockSize - 4] = static_cast<unsigned char>(count >> 24);
  block[kBlockSize - 3] = static_cast<unsigned char>(count >> 16);
  block[kBlockSize - 2] = static_cast<unsigned char>(count >> 8);
  block[kBlockSize - 1] = static_cast<unsigned char>(count);
  DigestState state{kInitialWords[0], kInitialWords[1], kInitialWords[2], kInitialWords[3], kInitialWords[4]};
  DigestBlockTransform(block, state);
  return {state.a, state.b, state.c, state.d, state.e};
}

// Entry n - 1: the closing block of a message of n whole blocks.
constexpr std::array<ClosingWords, kClosingTableBlocks> MakeClosingTable() {
  std::array<ClosingWords, kClosingTableBlocks> table{};
  for (std::size_t n = 1; n <= kClosingTableBlocks; ++n)
    table[n - 1] = EmptyClosingWords(static_cast<uint32_t>(n * kBlockSize));
  return table;
}

inline constexpr std::array<ClosingWords, kClosingTableBlocks> kClosingTable = MakeClosingTable();

}  // namespace compatcrypt::digest_core
