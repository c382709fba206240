// One program linking both libraries: the C functions of libcompatcrypt and
// the C++ interface of libcompatcrypt-cxx, each over its own copy of the
// core. Each answers for itself, and data written through one is read
// back through the other.
#include <compatcrypt.h>

#include <compatcrypt.hpp>

#include <algorithm>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kAbcDigest = "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c";

bool fail(const char *what) {
  std::fprintf(stderr, "consumer_both: %s\n", what);
  return false;
}

const unsigned char *uchars(const void *p) { return static_cast<const unsigned char *>(p); }

bool digests_agree() {
  constexpr std::string_view abc = "abc";
  unsigned char c_digest[COMPATCRYPT_DIGEST_BYTES];
  std::int32_t length = 0;
  if (MessageDigest(uchars(abc.data()), 3, c_digest, &length, COMPATCRYPT_MODE) != COMPATCRYPT_OK ||
      length != COMPATCRYPT_DIGEST_BYTES)
    return fail("MessageDigest failed");
  if (compatcrypt::to_hex(std::as_bytes(std::span(c_digest))) != kAbcDigest)
    return fail("the C digest of \"abc\" is wrong");
  if (compatcrypt::to_hex(compatcrypt::digest(std::as_bytes(std::span(abc.data(), abc.size())))) != kAbcDigest)
    return fail("the C++ digest of \"abc\" is wrong");
  return true;
}

bool codings_agree() {
  constexpr std::string_view password = "secret";
  unsigned char c_key[COMPATCRYPT_KEY_BYTES];
  std::int32_t key_length = 0;
  if (KeyGenerating(uchars(password.data()), static_cast<std::int32_t>(password.size()), c_key, &key_length,
                    COMPATCRYPT_MODE) != COMPATCRYPT_OK ||
      key_length != COMPATCRYPT_KEY_BYTES)
    return fail("KeyGenerating failed");
  const compatcrypt::Key key = compatcrypt::Key::from_password(password);
  if (!std::ranges::equal(key.bytes(), std::as_bytes(std::span(c_key))))
    return fail("the two libraries derive different keys");

  // Two whole blocks and a partial one.
  std::vector<unsigned char> plain(21);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i * 37 + 5);
  const auto n = static_cast<std::int32_t>(plain.size());

  std::vector<unsigned char> c_encoded(plain.size());
  if (EncodeFunction(plain.data(), n, c_key, COMPATCRYPT_KEY_BYTES, c_encoded.data(), COMPATCRYPT_MODE) !=
      COMPATCRYPT_OK)
    return fail("EncodeFunction failed");
  const std::vector<std::byte> cxx_encoded = compatcrypt::encode(std::as_bytes(std::span(plain)), key);
  if (!std::ranges::equal(cxx_encoded, std::as_bytes(std::span(c_encoded))))
    return fail("the two libraries encode differently");

  const compatcrypt::SecureBytes decoded = compatcrypt::decode(std::as_bytes(std::span(c_encoded)), key);
  if (!std::ranges::equal(decoded, std::as_bytes(std::span(plain))))
    return fail("C++ decoding of C encoding does not give the input back");
  std::vector<unsigned char> c_decoded(plain.size());
  if (DecodeFunction(reinterpret_cast<const unsigned char *>(cxx_encoded.data()), n, c_key, COMPATCRYPT_KEY_BYTES,
                     c_decoded.data(), COMPATCRYPT_MODE) != COMPATCRYPT_OK ||
      c_decoded != plain)
    return fail("C decoding of C++ encoding does not give the input back");
  return true;
}

}  // namespace

int main() {
  if (!digests_agree() || !codings_agree()) return 1;
  std::printf("consumer_both: ok\n");
  return 0;
}
