// Batches: records in a list of buffers, or back to back in one buffer cut
// by n + 1 offsets (the layout of an Arrow binary column).
#pragma once

#include <cstddef>
#include <vector>

#include "addon.h"

namespace compatcrypt::node {

// Offsets from an Int32Array, Uint32Array, BigInt64Array, BigUint64Array
// or Float64Array (whole numbers): at least one, from 0 up, never
// decreasing, the last at most `dataSize`. Throws and returns false
// otherwise.
bool ReadOffsets(napi_env env, napi_value value, std::size_t dataSize, std::vector<std::size_t> *out);

// The records of a list (an Array of buffers), where they lie.
bool ReadRecordList(napi_env env, napi_value list, std::vector<Bytes> *out);

}  // namespace compatcrypt::node
