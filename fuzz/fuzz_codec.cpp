// Differential codec target: a 16-byte key with zero bytes put in at
// positions the input chooses (each half ends at its first zero), data of
// any length (1 to 7 bytes included), and cut points. EncodeFunction and
// DecodeFunction, in separate buffers and in place, and EncodeStream and
// DecodeStream fed piece by piece, in separate buffers and in place with
// the write position trailing the read position by the held bytes, must
// all equal the model; decoding must undo encoding. The pieces between the
// cut points, and the whole message after them, are also coded as one
// batch of records, apart and in place, each record against the model of
// it alone. The first byte picks
// the serial engine and the bitsliced route (an engine forced onto every
// run, the default route, or every run on the serial engine).
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"
#include "des/format/batch_codec.h"
#include "des/format/codec_stream.h"
#include "des/modes/triple_des.h"
#include "fuzz_input.h"
#include "support/openssl_models.h"

namespace {

using compatcrypt::fuzz::FuzzInput;
using Bytes = std::vector<unsigned char>;

using EncodeCall = int32_t (*)(const unsigned char *, int32_t, const unsigned char *, int32_t,
                               unsigned char *, uint32_t);

// The C function in a separate buffer and in place; both must agree.
Bytes CallBoth(EncodeCall call, const Bytes &data, const Bytes &key) {
  const int32_t n = static_cast<int32_t>(data.size());
  const int32_t keyLen = static_cast<int32_t>(key.size());
  Bytes out(data.size() + 1, 0xEE);
  COMPATCRYPT_FUZZ_CHECK(call(data.data(), n, key.data(), keyLen, out.data(), COMPATCRYPT_MODE) ==
                         COMPATCRYPT_OK);
  // Nothing past the output's length is written.
  COMPATCRYPT_FUZZ_CHECK(out.back() == 0xEE);
  out.pop_back();
  Bytes inPlace = data;
  COMPATCRYPT_FUZZ_CHECK(call(inPlace.data(), n, key.data(), keyLen, inPlace.data(), COMPATCRYPT_MODE) ==
                         COMPATCRYPT_OK);
  COMPATCRYPT_FUZZ_CHECK(inPlace == out);
  // A key shorter than 16 bytes fails.
  COMPATCRYPT_FUZZ_CHECK(call(data.data(), n, key.data(), 15, out.data(), COMPATCRYPT_MODE) ==
                         COMPATCRYPT_FAILED);
  return inPlace;
}

// The stream fed the pieces between consecutive cuts into a separate buffer.
template <typename Stream>
Bytes StreamApart(Stream &stream, const Bytes &data, const std::vector<std::size_t> &cuts) {
  Bytes out(data.size() + 8, 0xEE);
  std::size_t written = 0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    const std::span<const uint8_t> piece(data.data() + cuts[i], cuts[i + 1] - cuts[i]);
    const std::size_t expected = stream.UpdateSize(piece.size());
    COMPATCRYPT_FUZZ_CHECK(stream.Update(piece, out.data() + written) == expected);
    written += expected;
    COMPATCRYPT_FUZZ_CHECK(written + stream.FinishSize() == cuts[i + 1]);
  }
  const std::size_t tail = stream.FinishSize();
  COMPATCRYPT_FUZZ_CHECK(stream.Finish(out.data() + written) == tail);
  written += tail;
  COMPATCRYPT_FUZZ_CHECK(written == data.size());
  COMPATCRYPT_FUZZ_CHECK(stream.FinishSize() == 0);
  for (std::size_t i = written; i < out.size(); ++i) COMPATCRYPT_FUZZ_CHECK(out[i] == 0xEE);
  out.resize(written);
  return out;
}

// The same in one buffer: each piece is coded from where it lies to a
// position the held bytes before it.
template <typename Stream>
Bytes StreamInPlace(Stream &stream, const Bytes &data, const std::vector<std::size_t> &cuts) {
  Bytes buffer = data;
  std::size_t written = 0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    COMPATCRYPT_FUZZ_CHECK(written + stream.FinishSize() == cuts[i]);
    const std::span<const uint8_t> piece(buffer.data() + cuts[i], cuts[i + 1] - cuts[i]);
    written += stream.Update(piece, buffer.data() + written);
  }
  written += stream.Finish(buffer.data() + written);
  COMPATCRYPT_FUZZ_CHECK(written == data.size());
  return buffer;
}

// The pieces between the cuts and the whole message as a batch of records,
// each coded by the batch coder apart and in place, against the model.
void CheckBatch(const Bytes &message, const std::vector<std::size_t> &cuts, const Bytes &key) {
  std::vector<Bytes> records;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
    records.emplace_back(message.begin() + static_cast<std::ptrdiff_t>(cuts[i]),
                         message.begin() + static_cast<std::ptrdiff_t>(cuts[i + 1]));
  records.push_back(message);
  compatcrypt::des::TripleDesSchedule keys;
  compatcrypt::des::ScheduleTripleDesKeys(key.data(), keys);
  for (const bool encode : {true, false}) {
    std::vector<Bytes> apart, inPlace = records;
    std::vector<compatcrypt::des::BatchBuffer> views, inPlaceViews;
    for (std::size_t i = 0; i < records.size(); ++i) {
      apart.emplace_back(records[i].size());
      views.push_back({records[i].data(), apart[i].data(), records[i].size()});
      inPlaceViews.push_back({inPlace[i].data(), inPlace[i].data(), inPlace[i].size()});
    }
    const auto code = encode ? compatcrypt::des::EncodeBatch : compatcrypt::des::DecodeBatch;
    code(keys, views);
    code(keys, inPlaceViews);
    for (std::size_t i = 0; i < records.size(); ++i) {
      const Bytes expected = encode ? compatcrypt::test::ModelEncode(records[i], key.data())
                                    : compatcrypt::test::ModelDecode(records[i], key.data());
      COMPATCRYPT_FUZZ_CHECK(apart[i] == expected);
      COMPATCRYPT_FUZZ_CHECK(inPlace[i] == expected);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const auto serial = compatcrypt::des::AvailableSerialEngines();
  const auto bitslice = compatcrypt::des::AvailableBitsliceEngines();
  const uint8_t pick = in.Byte();
  const std::size_t route = pick / serial.size() % (bitslice.size() + 2);
  COMPATCRYPT_FUZZ_CHECK(compatcrypt::des::UseSerialEngine(serial[pick % serial.size()]->name));
  COMPATCRYPT_FUZZ_CHECK(compatcrypt::des::UseBitsliceEngine(route < bitslice.size() ? bitslice[route]->name
                                                             : route == bitslice.size() ? ""
                                                                                        : "serial"));
  const uint8_t flags = in.Byte();
  Bytes key(16);
  for (auto &b : key) b = in.Byte();
  // Up to three zero bytes at chosen positions: either half may end early,
  // at its first byte, or not at all.
  for (int i = 0, zeros = flags & 3; i < zeros; ++i) key[in.Byte() % 16] = 0;
  // Bytes past the 16th are ignored.
  Bytes longKey = key;
  for (int i = 0, extra = (flags >> 2) & 7; i < extra; ++i)
    longKey.push_back(static_cast<unsigned char>(0x5A + i));
  const auto words = compatcrypt::fuzz::CutWords(in, (flags >> 5) & 7);
  const Bytes message = in.Rest();
  const auto cuts = compatcrypt::fuzz::CutPoints(words, message.size());

  const Bytes encoded = compatcrypt::test::ModelEncode(message, key.data());
  const Bytes decoded = compatcrypt::test::ModelDecode(message, key.data());
  COMPATCRYPT_FUZZ_CHECK(compatcrypt::test::ModelDecode(encoded, key.data()) == message);

  COMPATCRYPT_FUZZ_CHECK(CallBoth(EncodeFunction, message, longKey) == encoded);
  COMPATCRYPT_FUZZ_CHECK(CallBoth(DecodeFunction, message, longKey) == decoded);
  COMPATCRYPT_FUZZ_CHECK(CallBoth(DecodeFunction, encoded, longKey) == message);

  const std::span<const uint8_t, 16> streamKey(key.data(), 16);
  compatcrypt::des::EncodeStream encoder(streamKey);
  compatcrypt::des::DecodeStream decoder(streamKey);
  // Each stream codes several messages in turn: Finish starts the next.
  COMPATCRYPT_FUZZ_CHECK(StreamApart(encoder, message, cuts) == encoded);
  COMPATCRYPT_FUZZ_CHECK(StreamInPlace(encoder, message, cuts) == encoded);
  COMPATCRYPT_FUZZ_CHECK(StreamApart(decoder, message, cuts) == decoded);
  COMPATCRYPT_FUZZ_CHECK(StreamInPlace(decoder, message, cuts) == decoded);
  COMPATCRYPT_FUZZ_CHECK(StreamInPlace(decoder, encoded, cuts) == message);
  CheckBatch(message, cuts, key);
  return 0;
}
