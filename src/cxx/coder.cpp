// Encoding and decoding, one-shot and streaming, on the core's codec
// streams: the same engines as EncodeFunction and DecodeFunction.
#include <string>
#include <type_traits>

#include "compatcrypt.hpp"
#include "cxx/cxx_support.h"
#include "des/format/codec_stream.h"
#include "support/stack_burn.h"

namespace compatcrypt::inline v1 {

namespace {

template <Direction D>
using Stream = std::conditional_t<D == Direction::encode, des::EncodeStream, des::DecodeStream>;

std::span<const uint8_t, kKeySize> KeyBytes(const Key &key) {
  return std::span<const uint8_t, kKeySize>(reinterpret_cast<const uint8_t *>(key.bytes().data()), kKeySize);
}

void RequireRoom(std::size_t needed, std::span<std::byte> out, const char *call) {
  if (out.size() < needed)
    throw Error(result::error, std::string(call) + ": output span of " + std::to_string(out.size()) +
                                   " bytes, " + std::to_string(needed) + " needed");
}

template <Direction D, typename Buffer>
Buffer CodeAll(std::span<const std::byte> data, const Key &key) {
  Buffer out(data.size());
  RunAndBurn([&] {
    Stream<D> stream(KeyBytes(key));
    auto *p = reinterpret_cast<uint8_t *>(out.data());
    const std::size_t written = stream.Update(cxx::Bytes(data), p);
    stream.Finish(p + written);
    return 0;
  });
  return out;
}

}  // namespace

template <Direction D>
Coder<D>::Coder(const Key &key) noexcept {
  RunAndBurn([&] {
    new (state_) Stream<D>(KeyBytes(key));
    return 0;
  });
}

template <Direction D>
Coder<D>::Coder(const Coder &other) noexcept {
  new (state_) Stream<D>(cxx::Held<Stream<D>>(other.state_));
}

template <Direction D>
Coder<D> &Coder<D>::operator=(const Coder &other) noexcept {
  cxx::Held<Stream<D>>(state_) = cxx::Held<Stream<D>>(other.state_);
  return *this;
}

template <Direction D>
Coder<D>::~Coder() {
  cxx::Held<Stream<D>>(state_).~Stream<D>();
}

template <Direction D>
std::size_t Coder<D>::update_size(std::size_t in_size) const noexcept {
  return cxx::Held<Stream<D>>(state_).UpdateSize(in_size);
}

template <Direction D>
std::size_t Coder<D>::finish_size() const noexcept {
  return cxx::Held<Stream<D>>(state_).FinishSize();
}

template <Direction D>
std::size_t Coder<D>::update(std::span<const std::byte> in, std::span<std::byte> out) {
  RequireRoom(update_size(in.size()), out, "update");
  return RunAndBurn([&] { return cxx::Held<Stream<D>>(state_).Update(cxx::Bytes(in), cxx::Bytes(out)); });
}

template <Direction D>
std::size_t Coder<D>::finish(std::span<std::byte> out) {
  RequireRoom(finish_size(), out, "finish");
  return RunAndBurn([&] { return cxx::Held<Stream<D>>(state_).Finish(cxx::Bytes(out)); });
}

template <Direction D>
typename Coder<D>::buffer_type Coder<D>::update(std::span<const std::byte> in) {
  buffer_type out(update_size(in.size()));
  update(in, out);
  return out;
}

template <Direction D>
typename Coder<D>::buffer_type Coder<D>::finish() {
  buffer_type out(finish_size());
  finish(out);
  return out;
}

template class Coder<Direction::encode>;
template class Coder<Direction::decode>;

std::vector<std::byte> encode(std::span<const std::byte> data, const Key &key) {
  return CodeAll<Direction::encode, std::vector<std::byte>>(data, key);
}

SecureBytes decode(std::span<const std::byte> data, const Key &key) {
  return CodeAll<Direction::decode, SecureBytes>(data, key);
}

}  // namespace compatcrypt::inline v1
