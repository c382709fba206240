#include <string>

#include "compatcrypt.hpp"
#include "digest/digest_dispatch.h"

namespace compatcrypt::inline v1 {

std::string engines() {
  std::string text = "digest: ";
  text += digest_core::ActiveDigestEngine().name;
  if (const digest_core::DigestEngine *shortRuns = digest_core::ShortRunDigestEngine()) {
    text += ", short runs on ";
    text += shortRuns->name;
  }
  // One DES engine: 64-bit words with whole-byte S-box and permutation
  // tables.
  text += "; DES: packed tables";
  return text;
}

}  // namespace compatcrypt::inline v1
