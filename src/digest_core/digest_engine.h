// The digest's block engines. Every block is transformed from the same
// initial words and its result words are added to five running sums, so the
// blocks of a run are independent and an engine may take several at once.
//
// A plain interface (bytes, a count, five sums): the instruction-set files
// include nothing but this, the constants and the intrinsics.
#pragma once

#include <cstddef>
#include <cstdint>

namespace compatcrypt::digest_core {

// Adds the transform result of each of `count` 64-byte blocks at `blocks`
// to sums[0..4] (A to E, modulo 2^32).
typedef void (*DigestBlocksFunction)(const uint8_t *blocks, std::size_t count, uint32_t sums[5]);

// Always built.
void DigestBlocksPortable(const uint8_t *blocks, std::size_t count, uint32_t sums[5]);

// Built when their CMake option is on (COMPATCRYPT_ENGINE_*), each with its
// own instruction-set flags; called only where the CPU runs them. AVX2 and
// AVX-512 take blocks in groups of 8 and 16, one block per lane, with two
// groups in flight; a partly filled group costs a full one.
void DigestBlocksShani(const uint8_t *blocks, std::size_t count, uint32_t sums[5]);
void DigestBlocksAvx2(const uint8_t *blocks, std::size_t count, uint32_t sums[5]);
void DigestBlocksAvx512(const uint8_t *blocks, std::size_t count, uint32_t sums[5]);

}  // namespace compatcrypt::digest_core
