// Constant words of the digest's block transform (the SHA-1 compression).
#pragma once

#include <array>
#include <cstdint>

namespace compatcrypt::digest_core {

// Loaded into A to E before every block; never added back afterwards.
inline constexpr std::array<uint32_t, 5> kInitialWords = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                          0x10325476u, 0xC3D2E1F0u};

// One constant word for each group of 20 steps.
inline constexpr std::array<uint32_t, 4> kStepConstants = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu,
                                                           0xCA62C1D6u};

inline constexpr int kBlockSize = 64;
inline constexpr int kDigestSize = 20;
inline constexpr int kScheduleWords = 80;
// A tail longer than this leaves no room for the length word in its block.
inline constexpr int kMaxTailWithLength = 56;

}  // namespace compatcrypt::digest_core
