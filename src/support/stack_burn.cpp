#include "support/stack_burn.h"

#include "support/secure_wipe.h"

namespace compatcrypt {

[[gnu::noinline]] void BurnStack() noexcept {
  unsigned char area[kStackBurnBytes];
  SecureWipe(area, sizeof area);
}

}  // namespace compatcrypt
