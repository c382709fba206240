// Batches of independent buffers under one key, on the core's batch coder.
#include <string>
#include <vector>

#include "compatcrypt.hpp"
#include "cxx/cxx_support.h"
#include "des/format/batch_codec.h"
#include "des/modes/triple_des.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::inline v1 {

namespace {

using BatchFunction = void (*)(const des::TripleDesSchedule &, std::span<const des::BatchBuffer>);

void RunBatch(BatchFunction code, const Key &key, const std::vector<des::BatchBuffer> &buffers) {
  RunAndBurn([&] {
    des::TripleDesSchedule keys;
    des::ScheduleTripleDesKeys(reinterpret_cast<const uint8_t *>(key.bytes().data()), keys);
    code(keys, buffers);
    SecureWipe(keys);
    return 0;
  });
}

void CodeApart(BatchFunction code, const Key &key, std::span<const std::span<const std::byte>> in,
               std::span<const std::span<std::byte>> out, const char *call) {
  if (in.size() != out.size())
    throw Error(result::error, std::string(call) + ": " + std::to_string(in.size()) + " inputs, " +
                                   std::to_string(out.size()) + " outputs");
  std::vector<des::BatchBuffer> buffers(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i].size() != out[i].size())
      throw Error(result::error, std::string(call) + ": buffer " + std::to_string(i) + " has " +
                                     std::to_string(in[i].size()) + " bytes in, " +
                                     std::to_string(out[i].size()) + " out");
    buffers[i] = {cxx::Bytes(in[i]).data(), cxx::Bytes(out[i]), in[i].size()};
  }
  RunBatch(code, key, buffers);
}

void CodeInPlace(BatchFunction code, const Key &key, std::span<const std::span<std::byte>> buffers) {
  std::vector<des::BatchBuffer> list(buffers.size());
  for (std::size_t i = 0; i < buffers.size(); ++i)
    list[i] = {cxx::Bytes(buffers[i]), cxx::Bytes(buffers[i]), buffers[i].size()};
  RunBatch(code, key, list);
}

}  // namespace

void encode_batch(const Key &key, std::span<const std::span<const std::byte>> in,
                  std::span<const std::span<std::byte>> out) {
  CodeApart(des::EncodeBatch, key, in, out, "encode_batch");
}

void decode_batch(const Key &key, std::span<const std::span<const std::byte>> in,
                  std::span<const std::span<std::byte>> out) {
  CodeApart(des::DecodeBatch, key, in, out, "decode_batch");
}

void encode_batch(const Key &key, std::span<const std::span<std::byte>> buffers) {
  CodeInPlace(des::EncodeBatch, key, buffers);
}

void decode_batch(const Key &key, std::span<const std::span<std::byte>> buffers) {
  CodeInPlace(des::DecodeBatch, key, buffers);
}

}  // namespace compatcrypt::inline v1
