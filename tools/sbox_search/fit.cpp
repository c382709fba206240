#include "fit.h"

namespace sbox_search {

Fit FitFunction(const TruthTable *tt, const int *signals, int count, TruthTable t, TruthTable m) {
  Fit f;
  f.arity = 0;
  for (int k = 0; k < count; ++k) {
    bool dup = false;
    for (int q = 0; q < f.arity; ++q) dup |= f.in[q] == signals[k];
    if (!dup) f.in[f.arity++] = signals[k];
  }
  for (int c = 0; c < (1 << f.arity); ++c) {
    TruthTable region = m;
    for (int k = 0; k < f.arity; ++k) region &= ((c >> (f.arity - 1 - k)) & 1) ? tt[f.in[k]] : ~tt[f.in[k]];
    if (region == 0) continue;
    const TruthTable ones = t & region;
    if (ones != 0 && ones != region) return f;  // not a function of these signals
    f.known |= static_cast<uint8_t>(1u << c);
    if (ones) f.value |= static_cast<uint8_t>(1u << c);
  }
  // Drop inputs the required function does not depend on.
  for (int k = 0; k < f.arity;) {
    const int bit = f.arity - 1 - k;
    bool needed = false;
    for (int c = 0; c < (1 << f.arity); ++c) {
      if ((c >> bit) & 1) continue;
      const int d = c | (1 << bit);
      if (((f.known >> c) & (f.known >> d) & 1) && (((f.value >> c) ^ (f.value >> d)) & 1)) needed = true;
    }
    if (needed) {
      ++k;
      continue;
    }
    uint8_t value = 0, known = 0;
    for (int c = 0; c < (1 << f.arity); ++c) {
      if ((c >> bit) & 1) continue;
      const int d = c | (1 << bit);
      const int lo = c & ((1 << bit) - 1), hi = (c >> (bit + 1)) << bit;
      const int e = hi | lo;
      const bool kc = (f.known >> c) & 1, kd = (f.known >> d) & 1;
      if (kc || kd) {
        known |= static_cast<uint8_t>(1u << e);
        if (kc ? ((f.value >> c) & 1) : ((f.value >> d) & 1)) value |= static_cast<uint8_t>(1u << e);
      }
    }
    for (int q = k; q + 1 < f.arity; ++q) f.in[q] = f.in[q + 1];
    --f.arity;
    f.value = value;
    f.known = known;
  }
  f.ok = true;
  return f;
}

}  // namespace sbox_search
