#include "compatcrypt.hpp"
#include "support/secure_wipe.h"

namespace compatcrypt::inline v1 {

void secure_wipe(void *data, std::size_t size) noexcept {
  if (size != 0) SecureWipe(data, size);
}

}  // namespace compatcrypt::inline v1
