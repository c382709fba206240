// Sparse files for digests past 4 GiB: a few segments of data at given
// offsets, holes elsewhere, and the model digest of any part of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace compatcrypt::test {

struct Segment {
  uint64_t offset;
  Bytes bytes;
};

// Writes a file of `size` bytes holding `segments` and zeros elsewhere.
// Returns "" when the file is there and sparse, else why it cannot be (for
// GTEST_SKIP); a failed write is a test failure.
std::string WriteSparseFile(const std::string &path, uint64_t size, const std::vector<Segment> &segments);

// The OpenSSL model's digest of such a file's bytes from `from` to `size`
// (none when `from` is at or past it).
Bytes ModelOfSparseFile(const std::vector<Segment> &segments, uint64_t size, uint64_t from);

}  // namespace compatcrypt::test
