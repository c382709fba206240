// Block engines of the digest. Every block is transformed from the same
// initial words and its result words are added to the running sums, so the
// blocks of a run are independent and an engine may take several at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace compatcrypt::digest_core {

using DigestSums = std::array<uint32_t, 5>;

// Adds the transform result of each of `count` 64-byte blocks to `sums`.
using DigestBlocksFunction = void (*)(const unsigned char *blocks, std::size_t count, DigestSums &sums);

struct DigestEngine {
  std::string_view name;
  DigestBlocksFunction blocks;
};

// The portable engine; always present.
void DigestBlocksPortable(const unsigned char *blocks, std::size_t count, DigestSums &sums);

#if defined(__x86_64__) || defined(__i386__)
// x86 engines, each built with its own instruction-set flags: call one only
// where the CPU runs it (the dispatch checks). AVX2 and AVX-512 take blocks
// eight and sixteen at a time, a last short group costing a full one.
void DigestBlocksShani(const unsigned char *blocks, std::size_t count, DigestSums &sums);
void DigestBlocksAvx2(const unsigned char *blocks, std::size_t count, DigestSums &sums);
void DigestBlocksAvx512(const unsigned char *blocks, std::size_t count, DigestSums &sums);
#endif

// The engines this build holds whose instructions this CPU runs, portable first.
std::span<const DigestEngine> AvailableDigestEngines();

// The engine the library uses: the fastest available, chosen once.
const DigestEngine &ActiveDigestEngine();

// Tests only: makes `name` the active engine; false if it is not available.
bool UseDigestEngine(std::string_view name);

// Adds `count` blocks through the active engine.
void DigestBlocks(const unsigned char *blocks, std::size_t count, DigestSums &sums);

}  // namespace compatcrypt::digest_core
