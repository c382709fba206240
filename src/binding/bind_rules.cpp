// The library's rules as a binding asks for them: keys from passwords and
// hex, the zero-byte rule's report, the password policy, the messages of
// the result codes, the size of a piece, and wiping.
#include <cstring>
#include <string_view>

#include "binding/bind_object.h"
#include "des/format/key_rule.h"
#include "keys/key_hex.h"
#include "keys/password_key.h"

using namespace compatcrypt;

namespace {

// 1 MiB: about 30 ms of serial encoding on the slowest engine and a
// fraction of a millisecond of digesting or decoding on the vector engines;
// a 1 MiB value is one piece, so the pieces cost nothing at that size.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

struct Message {
  int code;
  const char *text;
};

constexpr Message kMessages[] = {
    {COMPATCRYPT_BIND_OK, "success"},
    {COMPATCRYPT_BIND_E_FILE, "could not read the file"},
    {COMPATCRYPT_BIND_E_ARGUMENT, "an argument cannot be used"},
    {COMPATCRYPT_BIND_E_KEY_LENGTH, "key must be 16 bytes"},
    {COMPATCRYPT_BIND_E_OUTPUT_SIZE, "the output buffer is too short"},
    {COMPATCRYPT_BIND_E_PASSWORD_EMPTY, "the password is empty, and the key of an empty password is public"},
    {COMPATCRYPT_BIND_E_PASSWORD_NUL, "password contains a zero byte"},
    {COMPATCRYPT_BIND_E_NO_MEMORY, "out of memory"},
    {COMPATCRYPT_BIND_E_KEY_HEX, "key must be 32 hex digits"},
    {COMPATCRYPT_BIND_E_STATE, "called out of order"},
};

std::span<const uint8_t, des::kCipherKeyBytes> KeyOf(const uint8_t *key) {
  return std::span<const uint8_t, des::kCipherKeyBytes>(key, des::kCipherKeyBytes);
}

}  // namespace

extern "C" {

uint32_t compatcrypt_bind_version(void) { return COMPATCRYPT_BIND_VERSION; }

const char *compatcrypt_bind_message(int code) {
  for (const Message &message : kMessages)
    if (message.code == code) return message.text;
  return "unknown result code";
}

size_t compatcrypt_bind_piece_bytes(void) { return kPieceBytes; }

int compatcrypt_bind_key_from_password(const void *password, size_t size,
                                       uint8_t key[COMPATCRYPT_BIND_KEY_BYTES]) {
  if ((password == nullptr && size > 0) || key == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  return RunAndBurn([&] {
    keys::DerivePasswordKey({static_cast<const uint8_t *>(password), size},
                            std::span<uint8_t, des::kCipherKeyBytes>(key, des::kCipherKeyBytes));
    return COMPATCRYPT_BIND_OK;
  });
}

int compatcrypt_bind_key_from_hex(const char *hex, size_t size, uint8_t key[COMPATCRYPT_BIND_KEY_BYTES]) {
  if ((hex == nullptr && size > 0) || key == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  const bool parsed = keys::ParseHexKey(std::string_view(hex == nullptr ? "" : hex, size),
                                        std::span<uint8_t, des::kCipherKeyBytes>(key, des::kCipherKeyBytes));
  return parsed ? COMPATCRYPT_BIND_OK : COMPATCRYPT_BIND_E_KEY_HEX;
}

int compatcrypt_bind_key_in_effect(const uint8_t *key, size_t key_size, int *outer_bytes, int *middle_bytes,
                                   uint8_t effective[COMPATCRYPT_BIND_KEY_BYTES]) {
  if (key == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (key_size != des::kCipherKeyBytes) return COMPATCRYPT_BIND_E_KEY_LENGTH;
  const des::KeyInEffect measure = des::MeasureKey(KeyOf(key));
  if (outer_bytes != nullptr) *outer_bytes = static_cast<int>(measure.outer);
  if (middle_bytes != nullptr) *middle_bytes = static_cast<int>(measure.middle);
  if (effective != nullptr)
    des::EffectiveKey(KeyOf(key), std::span<uint8_t, des::kCipherKeyBytes>(effective, des::kCipherKeyBytes));
  return COMPATCRYPT_BIND_OK;
}

int compatcrypt_bind_key_warning(const uint8_t *key, size_t key_size, char *buffer, size_t size) {
  if (buffer == nullptr && size > 0) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (key == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  if (key_size != des::kCipherKeyBytes) return COMPATCRYPT_BIND_E_KEY_LENGTH;
  return des::KeyWarning(des::MeasureKey(KeyOf(key)), buffer, size);
}

int compatcrypt_bind_password_check(const void *password, size_t size, unsigned flags) {
  if (password == nullptr && size > 0) return COMPATCRYPT_BIND_E_ARGUMENT;
  if ((flags & COMPATCRYPT_BIND_PASSWORD_STRING) != 0 && size > 0 &&
      std::memchr(password, 0, size) != nullptr)
    return COMPATCRYPT_BIND_E_PASSWORD_NUL;
  if (size == 0) return COMPATCRYPT_BIND_E_PASSWORD_EMPTY;
  return COMPATCRYPT_BIND_OK;
}

void compatcrypt_bind_wipe(void *memory, size_t size) {
  if (memory != nullptr) SecureWipe(memory, size);
}

}  // extern "C"
