// The bitsliced engine on 64-bit general registers: 64 blocks a pass, two-
// input gates. Runs everywhere.
#include <cstring>

#include "des/engines/bitslice/bitslice_rounds.h"
#include "support/secure_wipe.h"

namespace compatcrypt::des {

namespace {

struct Gates {
  using V = uint64_t;
  static V And(V a, V b) { return a & b; }
  static V Or(V a, V b) { return a | b; }
  static V Xor(V a, V b) { return a ^ b; }
  static V AndNot(V a, V b) { return ~a & b; }
  static V Not(V a) { return ~a; }
  template <unsigned Imm>
  static V Lut(V a, V b, V c) {
    V r = 0;
    for (unsigned i = 0; i < 8; ++i)
      if ((Imm >> i) & 1) r |= ((i & 4) ? a : ~a) & ((i & 2) ? b : ~b) & ((i & 1) ? c : ~c);
    return r;
  }
  static V XorAnd(V a, V b, V m) { return (a ^ b) & m; }
  template <int S>
  static V Shr(V a) {
    return a >> S;
  }
  template <int S>
  static V Shl(V a) {
    return a << S;
  }
  static V Constant(uint64_t c) { return c; }
  static V Load(const unsigned char *p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static V XorMask(V a, uint32_t mask) {
    return a ^ static_cast<V>(static_cast<int64_t>(static_cast<int32_t>(mask)));
  }
};

template <bool Decrypt>
void Crypt(const BitsliceKeys &keys, const unsigned char *in, uint64_t *blocks) {
  uint64_t scratch[64];
  bitslice::CryptPass<false, Gates, uint64_t, Decrypt>(keys, in, blocks, scratch);
  SecureWipe(scratch);
}

}  // namespace

const BitsliceDesEngine kBitslicePortable = {"portable", 64, Crypt<false>, Crypt<true>};

}  // namespace compatcrypt::des
