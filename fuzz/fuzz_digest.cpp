// Fuzzes the digest: whatever the bytes, MessageDigest succeeds, is
// deterministic, and does not depend on the order of whole 64-byte blocks.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compatcrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const int32_t n = static_cast<int32_t>(size);
  unsigned char first[20], second[20];
  int32_t len = 0;
  if (MessageDigest(data, n, first, &len, 1) != 1 || len != 20) std::abort();
  // Whole blocks are summed, not chained: reversing their order keeps the digest.
  std::vector<unsigned char> reordered(data, data + size);
  const size_t blocks = size / 64;
  for (size_t i = 0; i < blocks / 2; ++i)
    std::swap_ranges(reordered.begin() + 64 * i, reordered.begin() + 64 * (i + 1),
                     reordered.begin() + 64 * (blocks - 1 - i));
  if (MessageDigest(reordered.data(), n, second, &len, 1) != 1) std::abort();
  if (std::memcmp(first, second, 20) != 0) std::abort();
  return 0;
}
