// The encoder and decoder as streams, on the core's codec streams: one key
// schedule, any number of messages in turn, the tail rule at each finish.
#include <algorithm>
#include <memory>

#include "binding/bind_object.h"
#include "des/format/batch_codec.h"
#include "des/format/codec_stream.h"
#include "des/modes/triple_des.h"

using namespace compatcrypt;
using namespace compatcrypt::binding;

namespace {

// Either direction in one object, so that one handle type serves both. The
// key schedule is kept beside the stream for batches of records.
class Coder {
 public:
  Coder(int direction, std::span<const uint8_t, des::kCipherKeyBytes> key)
      : encodes_(direction == COMPATCRYPT_BIND_ENCODE) {
    des::ScheduleTripleDesKeys(key.data(), keys_);
    if (encodes_) {
      new (&encoder_) des::EncodeStream(key);
    } else {
      new (&decoder_) des::DecodeStream(key);
    }
  }
  Coder(const Coder &) = delete;
  Coder &operator=(const Coder &) = delete;
  ~Coder() {
    if (encodes_) {
      std::destroy_at(&encoder_);
    } else {
      std::destroy_at(&decoder_);
    }
  }

  template <typename Work>
  auto With(Work &&work) {
    return encodes_ ? work(encoder_) : work(decoder_);
  }

  void Batch(std::span<const des::BatchBuffer> records) const {
    if (encodes_) {
      des::EncodeBatch(keys_, records);
    } else {
      des::DecodeBatch(keys_, records);
    }
  }

 private:
  bool encodes_;
  des::TripleDesSchedule keys_;
  union {
    des::EncodeStream encoder_;
    des::DecodeStream decoder_;
  };
};

using CoderObject = Tagged<Coder, Kind::coder>;

int MakeCoder(void *memory, std::size_t size, bool allocate, int direction, const uint8_t *key,
              std::size_t keySize, compatcrypt_bind_coder **out) {
  if (out != nullptr) *out = nullptr;
  if (key == nullptr || out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (direction != COMPATCRYPT_BIND_ENCODE && direction != COMPATCRYPT_BIND_DECODE)
    return COMPATCRYPT_BIND_E_ARGUMENT;
  if (keySize != des::kCipherKeyBytes) return COMPATCRYPT_BIND_E_KEY_LENGTH;
  return RunAndBurn([&] {
    return Make<CoderObject>(memory, size, allocate, out, direction,
                             std::span<const uint8_t, des::kCipherKeyBytes>(key, des::kCipherKeyBytes));
  });
}

}  // namespace

static_assert(COMPATCRYPT_BIND_KEY_BYTES == des::kCipherKeyBytes);

extern "C" {

size_t compatcrypt_bind_coder_size(void) { return RoomFor<CoderObject>(); }

int compatcrypt_bind_coder_init(void *memory, size_t size, int direction, const uint8_t *key, size_t key_size,
                                compatcrypt_bind_coder **out) {
  return MakeCoder(memory, size, false, direction, key, key_size, out);
}

int compatcrypt_bind_coder_new(int direction, const uint8_t *key, size_t key_size,
                               compatcrypt_bind_coder **out) {
  return MakeCoder(nullptr, 0, true, direction, key, key_size, out);
}

size_t compatcrypt_bind_coder_update_size(const compatcrypt_bind_coder *coder, size_t in_size) {
  CoderObject *self = Live<CoderObject>(coder);
  if (self == nullptr) return 0;
  return self->object.With([&](auto &stream) { return stream.UpdateSize(in_size); });
}

size_t compatcrypt_bind_coder_finish_size(const compatcrypt_bind_coder *coder) {
  CoderObject *self = Live<CoderObject>(coder);
  if (self == nullptr) return 0;
  return self->object.With([&](auto &stream) { return stream.FinishSize(); });
}

int compatcrypt_bind_coder_update(compatcrypt_bind_coder *coder, const void *in, size_t in_size, void *out,
                                  size_t out_size, size_t *written) {
  if (written != nullptr) *written = 0;
  CoderObject *self = Live<CoderObject>(coder);
  if (self == nullptr || (in == nullptr && in_size > 0)) return COMPATCRYPT_BIND_E_ARGUMENT;
  const std::size_t needed = compatcrypt_bind_coder_update_size(coder, in_size);
  if (needed > 0 && out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (out_size < needed) return COMPATCRYPT_BIND_E_OUTPUT_SIZE;
  uint8_t none = 0;  // where nothing is written, for a null `out`
  auto *to = out != nullptr ? static_cast<uint8_t *>(out) : &none;
  const std::size_t count = RunAndBurn([&] {
    return self->object.With([&](auto &stream) {
      return stream.Update({static_cast<const uint8_t *>(in), in_size}, to);
    });
  });
  if (written != nullptr) *written = count;
  return COMPATCRYPT_BIND_OK;
}

int compatcrypt_bind_coder_finish(compatcrypt_bind_coder *coder, void *out, size_t out_size,
                                  size_t *written) {
  if (written != nullptr) *written = 0;
  CoderObject *self = Live<CoderObject>(coder);
  if (self == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  const std::size_t needed = compatcrypt_bind_coder_finish_size(coder);
  if (needed > 0 && out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (out_size < needed) return COMPATCRYPT_BIND_E_OUTPUT_SIZE;
  uint8_t none = 0;
  auto *to = out != nullptr ? static_cast<uint8_t *>(out) : &none;
  const std::size_t count =
      RunAndBurn([&] { return self->object.With([&](auto &stream) { return stream.Finish(to); }); });
  if (written != nullptr) *written = count;
  return COMPATCRYPT_BIND_OK;
}

int compatcrypt_bind_coder_batch(compatcrypt_bind_coder *coder, const void *in, const size_t *offsets,
                                 size_t count, void *out, size_t out_size) {
  CoderObject *self = Live<CoderObject>(coder);
  if (self == nullptr || offsets == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (compatcrypt_bind_coder_finish_size(coder) != 0) return COMPATCRYPT_BIND_E_STATE;
  for (std::size_t i = 0; i < count; ++i)
    if (offsets[i + 1] < offsets[i]) return COMPATCRYPT_BIND_E_ARGUMENT;
  const std::size_t end = offsets[count];
  if (end > out_size) return COMPATCRYPT_BIND_E_OUTPUT_SIZE;
  if (end > offsets[0] && (in == nullptr || out == nullptr)) return COMPATCRYPT_BIND_E_ARGUMENT;
  const auto *from = static_cast<const uint8_t *>(in);
  auto *to = static_cast<uint8_t *>(out);
  // In place, or apart: the records are read and written in runs, so an
  // output that overlapped the input elsewhere would read coded bytes.
  if (from != to && from != nullptr && to != nullptr && from < to + end && to < from + end)
    return COMPATCRYPT_BIND_E_ARGUMENT;
  // Runs of records through the batch engines, listed on the stack: no
  // allocation, and runs long enough to fill the widest engine's lanes.
  constexpr std::size_t kRun = 256;
  RunAndBurn([&] {
    des::BatchBuffer run[kRun];
    for (std::size_t first = 0; first < count; first += kRun) {
      const std::size_t n = std::min(kRun, count - first);
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = offsets[first + i], size = offsets[first + i + 1] - at;
        run[i] = {size != 0 ? from + at : nullptr, size != 0 ? to + at : nullptr, size};
      }
      self->object.Batch({run, n});
    }
    return 0;
  });
  return COMPATCRYPT_BIND_OK;
}

int compatcrypt_bind_coder_destroy(compatcrypt_bind_coder *coder) { return Destroy<CoderObject>(coder); }

}  // extern "C"
