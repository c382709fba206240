// Constants of the digest and of its block transform (the SHA-1
// compression). Plain arrays: the instruction-set engines include this
// header, and nothing they include may bring in an inline library function
// that their flags would compile.
#pragma once

#include <cstddef>
#include <cstdint>

namespace compatcrypt::digest_core {

// Loaded into A to E before every block; never added back afterwards.
inline constexpr uint32_t kInitialWords[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                              0xC3D2E1F0u};

// One constant word for each group of 20 steps.
inline constexpr uint32_t kStepConstants[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

inline constexpr std::size_t kBlockSize = 64;
inline constexpr std::size_t kDigestBytes = 20;
inline constexpr int kScheduleWords = 80;
// A tail longer than this leaves no room for the length word in its block.
inline constexpr std::size_t kMaxTailWithLength = 56;

}  // namespace compatcrypt::digest_core
