#include "digest/digest_transform.h"

namespace compatcrypt::digest_core {

void DigestMessageSchedule(const unsigned char *block, DigestSchedule &w) {
  for (int i = 0; i < 16; ++i) w[i] = PackSignExtended(block + 4 * i);
  for (int t = 16; t < kScheduleWords; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
}

namespace {

template <int Group>
inline void TwentySteps(const DigestSchedule &w, DigestState &s) {
  constexpr uint32_t k = kStepConstants[Group];
  for (int t = 20 * Group; t < 20 * Group + 20; ++t) {
    const uint32_t temp = Rotl(s.a, 5) + DigestLogicalFunction(Group, s.b, s.c, s.d) + s.e + w[t] + k;
    s.e = s.d;
    s.d = s.c;
    s.c = Rotl(s.b, 30);
    s.b = s.a;
    s.a = temp;
  }
}

}  // namespace

void DigestBlockTransform(const unsigned char *block, DigestState &state) {
  DigestSchedule w;
  DigestMessageSchedule(block, w);
  TwentySteps<0>(w, state);
  TwentySteps<1>(w, state);
  TwentySteps<2>(w, state);
  TwentySteps<3>(w, state);
}

}  // namespace compatcrypt::digest_core
