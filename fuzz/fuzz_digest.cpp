// Differential digest target: the input picks an engine (or the default
// route) and cut points, and the rest is the message. MessageDigest and a
// DigestStream fed piece by piece must both equal the model; so must two
// streams joined with Append at a whole-block cut, and Append must refuse a
// stream with pending bytes without changing it.
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "compatcrypt.h"
#include "digest_core/digest_dispatch.h"
#include "digest_core/digest_stream.h"
#include "fuzz_input.h"
#include "support/openssl_models.h"

namespace {

using compatcrypt::digest_core::DigestStream;
using compatcrypt::fuzz::FuzzInput;
using Bytes = std::vector<unsigned char>;

Bytes Finish(DigestStream &stream) {
  uint8_t out[20];
  stream.Finish(std::span<uint8_t, 20>(out, 20));
  return Bytes(out, out + 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const auto engines = compatcrypt::digest_core::AvailableDigestEngines();
  const std::size_t pick = in.Byte() % (engines.size() + 1);
  // One past the list is the default route (bulk engine plus short runs).
  const std::string_view engine = pick < engines.size() ? engines[pick]->name : "";
  COMPATCRYPT_FUZZ_CHECK(compatcrypt::digest_core::UseDigestEngine(engine));
  const auto words = compatcrypt::fuzz::CutWords(in, in.Byte() % 16);
  const Bytes message = in.Rest();
  const auto cuts = compatcrypt::fuzz::CutPoints(words, message.size());

  const Bytes expected = compatcrypt::test::ModelDigest(message);

  unsigned char oneShot[20];
  int32_t outLen = 0;
  COMPATCRYPT_FUZZ_CHECK(MessageDigest(message.data(), static_cast<int32_t>(message.size()), oneShot, &outLen,
                                       COMPATCRYPT_MODE) == COMPATCRYPT_OK);
  COMPATCRYPT_FUZZ_CHECK(outLen == 20);
  COMPATCRYPT_FUZZ_CHECK(Bytes(oneShot, oneShot + 20) == expected);

  DigestStream stream;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    stream.Update(std::span<const uint8_t>(message.data() + cuts[i], cuts[i + 1] - cuts[i]));
  COMPATCRYPT_FUZZ_CHECK(Finish(stream) == expected);
  // Finish starts over: the same stream digests the message again.
  stream.Update(message);
  COMPATCRYPT_FUZZ_CHECK(Finish(stream) == expected);

  // Two halves digested apart and joined at the first cut, rounded down to
  // a whole block.
  const std::size_t joint = cuts.size() > 2 ? cuts[1] / 64 * 64 : message.size() / 128 * 64;
  DigestStream front, back;
  front.Update(std::span<const uint8_t>(message.data(), joint));
  back.Update(std::span<const uint8_t>(message.data() + joint, message.size() - joint));
  COMPATCRYPT_FUZZ_CHECK(front.Append(back));
  COMPATCRYPT_FUZZ_CHECK(Finish(front) == expected);

  // A stream with pending bytes refuses to take in another.
  if (message.size() % 64 != 0) {
    DigestStream partial, other;
    partial.Update(message);
    other.Update(message);
    COMPATCRYPT_FUZZ_CHECK(!partial.Append(other));
    COMPATCRYPT_FUZZ_CHECK(Finish(partial) == expected);
  }
  return 0;
}
