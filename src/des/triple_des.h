// Two-key triple DES: encrypt, decrypt, encrypt, the outer key first and
// last, on blocks held in the engine's wide form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/des_engine.h"

namespace compatcrypt::des {

// The schedules of a 16-byte cipher key: the even-numbered bytes form the
// outer key, the odd-numbered bytes the middle key, each read by the key
// rule (up to its first zero byte).
struct TripleDesKeys {
  DesSubkeys outer;
  DesSubkeys middle;
};

void ScheduleTripleDesKeys(const uint8_t *key, TripleDesKeys &keys);

// A block through IP into wide halves, and back out through IP^-1.
inline void EnterWide(uint64_t block, uint64_t &left, uint64_t &right) {
  uint32_t l = static_cast<uint32_t>(block >> 32);
  uint32_t r = static_cast<uint32_t>(block);
  InitialPermutation(l, r);
  left = Widen(l);
  right = Widen(r);
}

inline uint64_t LeaveWide(uint64_t left, uint64_t right) {
  uint32_t l = Narrow(left);
  uint32_t r = Narrow(right);
  FinalPermutation(l, r);
  return (uint64_t{l} << 32) | r;
}

// E(outer, D(middle, E(outer, x))) or its inverse on N wide blocks, with one
// IP and one IP^-1 for the three operations: IP^-1 followed by IP cancels in
// between.
template <bool Decrypt, int N>
inline void TripleWideRounds(uint64_t (&left)[N], uint64_t (&right)[N], const TripleDesKeys &keys) {
  WideRounds<Decrypt, N>(left, right, keys.outer);
  WideRounds<!Decrypt, N>(left, right, keys.middle);
  WideRounds<Decrypt, N>(left, right, keys.outer);
}

inline uint64_t TripleDesEncrypt(uint64_t block, const TripleDesKeys &keys) {
  uint64_t left[1];
  uint64_t right[1];
  EnterWide(block, left[0], right[0]);
  TripleWideRounds<false, 1>(left, right, keys);
  return LeaveWide(left[0], right[0]);
}

inline uint64_t TripleDesDecrypt(uint64_t block, const TripleDesKeys &keys) {
  uint64_t left[1];
  uint64_t right[1];
  EnterWide(block, left[0], right[0]);
  TripleWideRounds<true, 1>(left, right, keys);
  return LeaveWide(left[0], right[0]);
}

}  // namespace compatcrypt::des
