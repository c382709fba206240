#include <string>

#include "compatcrypt.hpp"
#include "des/dispatch/des_dispatch.h"
#include "digest_core/digest_dispatch.h"

namespace compatcrypt::inline v1 {

std::string engines() {
  std::string text = "digest: ";
  text += digest_core::ActiveDigestEngine().name;
  if (const digest_core::DigestEngine *shortRuns = digest_core::ShortRunDigestEngine()) {
    text += ", short runs on ";
    text += shortRuns->name;
  }
  // DES: chains and short runs on the serial engine, runs of independent
  // blocks from the crossover on bitsliced.
  text += "; DES: serial ";
  text += des::ActiveSerialEngine().name;
  text += ", bitsliced ";
  text += des::ActiveBitsliceEngine().name;
  text += " from " + std::to_string(des::BitsliceCrossover()) + " blocks";
  return text;
}

}  // namespace compatcrypt::inline v1
