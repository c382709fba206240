// Encoding and decoding, one-shot and streaming. The format: CBC from a zero
// IV over the whole 8-byte blocks; a last partial block of r bytes is XORed
// with the first r bytes of the first cipher block, or, when the input has
// no whole block (1 to 7 bytes), with the encryption of the zero block. The
// streaming classes run the same chain one block at a time and hold back
// the bytes of an unfinished block, which only finish() knows to be the tail.
#include <algorithm>
#include <cstring>
#include <string>

#include "compatcrypt.h"
#include "compatcrypt.hpp"
#include "cxx/result_check.h"
#include "des/des_engine.h"
#include "des/triple_des.h"
#include "support/secure_wipe.h"

namespace compatcrypt::inline v1 {

namespace {

constexpr std::size_t kBlock = 8;

using BufferFunction = std::int32_t (*)(const unsigned char *, std::int32_t, const unsigned char *,
                                        std::int32_t, unsigned char *, std::uint32_t);

}  // namespace

namespace detail {

struct CoderState {
  des::TripleDesKeys keys;
  std::uint64_t chain = 0;  // the previous cipher block; the zero IV at first
  std::uint64_t first = 0;  // the first cipher block, once seen
  bool haveFirst = false;
  unsigned char pending[kBlock] = {};
  std::size_t pendingLen = 0;

  explicit CoderState(const Key &key) {
    des::ScheduleTripleDesKeys(reinterpret_cast<const unsigned char *>(key.bytes().data()), keys);
  }
  ~CoderState() {
    SecureWipe(keys);
    Reset();
  }

  void Reset() {
    SecureWipe(chain);
    SecureWipe(first);
    SecureWipe(pending);
    haveFirst = false;
    pendingLen = 0;
  }

  template <bool Encode>
  void Block(const unsigned char *in, unsigned char *out) {
    const std::uint64_t input = des::LoadBlock(in);
    if constexpr (Encode) {
      chain = des::TripleDesEncrypt(input ^ chain, keys);
      des::StoreBlock(chain, out);
      if (!haveFirst) first = chain;
    } else {
      std::uint64_t plain = des::TripleDesDecrypt(input, keys) ^ chain;
      des::StoreBlock(plain, out);
      SecureWipe(plain);
      chain = input;
      if (!haveFirst) first = input;
    }
    haveFirst = true;
  }

  template <bool Encode>
  std::vector<std::byte> Update(std::span<const std::byte> data) {
    const unsigned char *p = cxx::Bytes(data);
    std::size_t n = data.size();
    std::vector<std::byte> output((pendingLen + n) / kBlock * kBlock);
    auto *out = reinterpret_cast<unsigned char *>(output.data());
    if (pendingLen != 0) {
      const std::size_t take = std::min(kBlock - pendingLen, n);
      if (take != 0) std::memcpy(pending + pendingLen, p, take);
      pendingLen += take;
      p += take;
      n -= take;
      if (pendingLen < kBlock) return output;
      Block<Encode>(pending, out);
      out += kBlock;
      pendingLen = 0;
    }
    for (; n >= kBlock; p += kBlock, n -= kBlock, out += kBlock) Block<Encode>(p, out);
    if (n != 0) std::memcpy(pending, p, n);
    pendingLen = n;
    return output;
  }

  // The tail pad is the same both ways: it comes from the first cipher
  // block, which the encoder produced and the decoder read.
  std::vector<std::byte> Finish() {
    std::vector<std::byte> output(pendingLen);
    if (pendingLen != 0) {
      std::uint64_t pad = haveFirst ? first : des::TripleDesEncrypt(0, keys);
      for (std::size_t k = 0; k < pendingLen; ++k)
        output[k] = static_cast<std::byte>(pending[k] ^ static_cast<unsigned char>(pad >> (56 - 8 * k)));
      SecureWipe(pad);
    }
    Reset();
    return output;
  }
};

}  // namespace detail

namespace {

detail::CoderState &Live(const std::unique_ptr<detail::CoderState> &state, const char *type) {
  if (!state) throw Error(COMPATCRYPT_ERROR, std::string(type) + " used after being moved from");
  return *state;
}

std::vector<std::byte> RunBuffer(BufferFunction function, const char *name, std::span<const std::byte> data,
                                 const Key &key) {
  std::vector<std::byte> output(data.size());
  const std::int32_t result = function(cxx::Bytes(data), static_cast<std::int32_t>(data.size()),
                                       cxx::Bytes(key.bytes()), static_cast<std::int32_t>(kKeySize),
                                       reinterpret_cast<unsigned char *>(output.data()), COMPATCRYPT_MODE);
  cxx::CheckResult(result, name);
  return output;
}

// Joins the streamed pieces, for inputs the C functions cannot take.
template <typename Coder>
std::vector<std::byte> RunStreaming(std::span<const std::byte> data, const Key &key) {
  Coder coder(key);
  std::vector<std::byte> output = coder.update(data);
  const std::vector<std::byte> tail = coder.finish();
  output.insert(output.end(), tail.begin(), tail.end());
  return output;
}

}  // namespace

std::vector<std::byte> encode(std::span<const std::byte> data, const Key &key) {
  if (!cxx::FitsCLength(data.size())) return RunStreaming<Encoder>(data, key);
  return RunBuffer(EncodeFunction, "EncodeFunction", data, key);
}

std::vector<std::byte> decode(std::span<const std::byte> data, const Key &key) {
  if (!cxx::FitsCLength(data.size())) return RunStreaming<Decoder>(data, key);
  return RunBuffer(DecodeFunction, "DecodeFunction", data, key);
}

Encoder::Encoder(const Key &key) : state_(std::make_unique<detail::CoderState>(key)) {}
Encoder::~Encoder() = default;
Encoder::Encoder(Encoder &&) noexcept = default;
Encoder &Encoder::operator=(Encoder &&) noexcept = default;

std::vector<std::byte> Encoder::update(std::span<const std::byte> data) {
  return Live(state_, "Encoder").Update<true>(data);
}

std::vector<std::byte> Encoder::finish() { return Live(state_, "Encoder").Finish(); }

Decoder::Decoder(const Key &key) : state_(std::make_unique<detail::CoderState>(key)) {}
Decoder::~Decoder() = default;
Decoder::Decoder(Decoder &&) noexcept = default;
Decoder &Decoder::operator=(Decoder &&) noexcept = default;

std::vector<std::byte> Decoder::update(std::span<const std::byte> data) {
  return Live(state_, "Decoder").Update<false>(data);
}

std::vector<std::byte> Decoder::finish() { return Live(state_, "Decoder").Finish(); }

}  // namespace compatcrypt::inline v1
