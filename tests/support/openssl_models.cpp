#include "support/openssl_models.h"

#include <openssl/des.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>

namespace compatcrypt::test {

namespace {

constexpr uint32_t kInitial[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};

uint32_t SignExtendedWord(const unsigned char *p) {
  // Start from 0; three times add the next byte as a signed value and shift
  // by 8; then add the fourth.
  int64_t sum = 0;
  for (int i = 0; i < 4; ++i) {
    sum += static_cast<int8_t>(p[i]);
    if (i < 3) sum *= 256;
  }
  return static_cast<uint32_t>(sum);
}

// Copies the key and zeroes everything from its first zero byte on.
void ApplyKeyRule(const unsigned char *key, DES_cblock &out) {
  bool ended = false;
  for (int i = 0; i < 8; ++i) {
    ended = ended || key[i] == 0;
    out[i] = ended ? 0 : key[i];
  }
}

struct Ede2Keys {
  DES_key_schedule outer;
  DES_key_schedule middle;
};

Ede2Keys ScheduleModelKeys(const unsigned char *key) {
  unsigned char even[8], odd[8];
  for (int i = 0; i < 8; ++i) {
    even[i] = key[2 * i];
    odd[i] = key[2 * i + 1];
  }
  DES_cblock outer, middle;
  ApplyKeyRule(even, outer);
  ApplyKeyRule(odd, middle);
  Ede2Keys keys;
  DES_set_key_unchecked(&outer, &keys.outer);
  DES_set_key_unchecked(&middle, &keys.middle);
  return keys;
}

Bytes ZeroBlockPad(Ede2Keys &keys) {
  DES_cblock zero = {0}, pad;
  DES_ecb3_encrypt(&zero, &pad, &keys.outer, &keys.middle, &keys.outer, DES_ENCRYPT);
  return Bytes(pad, pad + 8);
}

Bytes ModelCode(const Bytes &data, const unsigned char *key, int direction) {
  Ede2Keys keys = ScheduleModelKeys(key);
  Bytes out(data.size());
  const std::size_t whole = data.size() / 8 * 8;
  if (whole != 0) {
    DES_cblock iv = {0};
    DES_ede2_cbc_encrypt(data.data(), out.data(), static_cast<long>(whole), &keys.outer, &keys.middle, &iv,
                         direction);
  }
  const Bytes pad = whole != 0 ? Bytes(direction == DES_ENCRYPT ? out.begin() : data.begin(),
                                       (direction == DES_ENCRYPT ? out.begin() : data.begin()) + 8)
                               : ZeroBlockPad(keys);
  for (std::size_t k = whole; k < data.size(); ++k) out[k] = data[k] ^ pad[k - whole];
  return out;
}

}  // namespace

void ModelBlockWords(const unsigned char *block, uint32_t words[5]) {
  unsigned char packed[64];
  for (int i = 0; i < 16; ++i) {
    const uint32_t w = SignExtendedWord(block + 4 * i);
    packed[4 * i] = static_cast<unsigned char>(w >> 24);
    packed[4 * i + 1] = static_cast<unsigned char>(w >> 16);
    packed[4 * i + 2] = static_cast<unsigned char>(w >> 8);
    packed[4 * i + 3] = static_cast<unsigned char>(w);
  }
  SHA_CTX ctx;
  SHA1_Init(&ctx);
  SHA1_Transform(&ctx, packed);
  const uint32_t h[5] = {ctx.h0, ctx.h1, ctx.h2, ctx.h3, ctx.h4};
  for (int i = 0; i < 5; ++i) words[i] = h[i] - kInitial[i];
}

Bytes ModelDigest(const Bytes &data) {
  uint32_t sums[5] = {};
  auto add = [&](const unsigned char *block) {
    uint32_t words[5];
    ModelBlockWords(block, words);
    for (int i = 0; i < 5; ++i) sums[i] += words[i];
  };
  const std::size_t n = data.size();
  for (std::size_t k = 0; k + 64 <= n; k += 64) add(data.data() + k);
  const std::size_t r = n % 64;
  unsigned char closing[128] = {};
  if (r != 0) std::memcpy(closing, data.data() + n - r, r);
  unsigned char *last = r > 56 ? closing + 64 : closing;
  const uint32_t count = static_cast<uint32_t>(n);
  last[60] = static_cast<unsigned char>(count >> 24);
  last[61] = static_cast<unsigned char>(count >> 16);
  last[62] = static_cast<unsigned char>(count >> 8);
  last[63] = static_cast<unsigned char>(count);
  add(closing);
  if (r > 56) add(closing + 64);
  Bytes digest(20);
  for (int i = 0; i < 5; ++i)
    for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<unsigned char>(sums[i] >> (8 * b));
  return digest;
}

void ModelDigestStream::AddBlock(const unsigned char *block) {
  static const unsigned char kZero[64] = {};
  uint32_t words[5];
  if (std::memcmp(block, kZero, 64) == 0) {
    if (!haveZeroWords_) ModelBlockWords(kZero, zeroWords_);
    haveZeroWords_ = true;
    std::memcpy(words, zeroWords_, sizeof words);
  } else {
    ModelBlockWords(block, words);
  }
  for (int i = 0; i < 5; ++i) sums_[i] += words[i];
}

void ModelDigestStream::Update(const unsigned char *data, std::size_t size) {
  count_ += size;
  while (size != 0) {
    if (pendingLen_ == 0 && size >= 64) {
      AddBlock(data);
      data += 64;
      size -= 64;
      continue;
    }
    const std::size_t take = std::min<std::size_t>(64 - pendingLen_, size);
    std::memcpy(pending_ + pendingLen_, data, take);
    pendingLen_ += take;
    data += take;
    size -= take;
    if (pendingLen_ == 64) {
      AddBlock(pending_);
      pendingLen_ = 0;
    }
  }
}

void ModelDigestStream::UpdateZeros(std::size_t size) {
  static const unsigned char kZeros[1 << 16] = {};
  while (size != 0) {
    const std::size_t take = std::min(size, sizeof kZeros);
    Update(kZeros, take);
    size -= take;
  }
}

Bytes ModelDigestStream::Finish() const {
  ModelDigestStream last = *this;
  unsigned char closing[128] = {};
  const std::size_t r = pendingLen_;
  std::memcpy(closing, pending_, r);
  unsigned char *tail = r > 56 ? closing + 64 : closing;
  const uint32_t count = static_cast<uint32_t>(count_);
  tail[60] = static_cast<unsigned char>(count >> 24);
  tail[61] = static_cast<unsigned char>(count >> 16);
  tail[62] = static_cast<unsigned char>(count >> 8);
  tail[63] = static_cast<unsigned char>(count);
  last.AddBlock(closing);
  if (r > 56) last.AddBlock(closing + 64);
  Bytes digest(20);
  for (int i = 0; i < 5; ++i)
    for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<unsigned char>(last.sums_[i] >> (8 * b));
  return digest;
}

Bytes ModelEncode(const Bytes &data, const unsigned char *key) { return ModelCode(data, key, DES_ENCRYPT); }

Bytes ModelDecode(const Bytes &data, const unsigned char *key) { return ModelCode(data, key, DES_DECRYPT); }

Bytes ModelDesBlock(const unsigned char *key, const unsigned char *block, bool decrypt) {
  DES_cblock cut, in, out;
  ApplyKeyRule(key, cut);
  std::memcpy(in, block, 8);
  DES_key_schedule schedule;
  DES_set_key_unchecked(&cut, &schedule);
  DES_ecb_encrypt(&in, &out, &schedule, decrypt ? DES_DECRYPT : DES_ENCRYPT);
  return Bytes(out, out + 8);
}

Bytes ModelTripleCbc(const unsigned char *key, const unsigned char *iv, const Bytes &data, bool decrypt) {
  Ede2Keys keys = ScheduleModelKeys(key);
  DES_cblock chain;
  std::memcpy(chain, iv, 8);
  Bytes out(data.size());
  if (!data.empty())
    DES_ede2_cbc_encrypt(data.data(), out.data(), static_cast<long>(data.size()), &keys.outer, &keys.middle,
                         &chain, decrypt ? DES_DECRYPT : DES_ENCRYPT);
  return out;
}

// The derivation bit by bit as its format is defined: seven bits of each
// byte of the working password XORed into a 56-bit register at a running
// position, the register spread over bits 0 to 6 of eight seed bytes, then
// the seed and the first half each encrypted under themselves (by OpenSSL).
Bytes ModelPasswordKey(const Bytes &password) {
  Bytes working = password;
  if (working.size() < 7) working.resize(8, 0x6C);
  uint8_t reg[56] = {};
  int i = 0;
  for (unsigned char byte : working)
    for (int b = 0; b < 7; ++b, i = (i + 1) % 56) reg[i] ^= (byte >> b) & 1;
  Bytes seed(8, 0);
  for (int p = 0; p < 56; ++p) seed[p / 7] |= static_cast<unsigned char>(reg[p] << (p % 7));
  const Bytes first = ModelDesBlock(seed.data(), seed.data(), false);
  const Bytes second = ModelDesBlock(first.data(), first.data(), false);
  Bytes key(16);
  for (int t = 0; t < 8; ++t) {
    key[2 * t] = first[t];
    key[2 * t + 1] = second[t];
  }
  return key;
}

}  // namespace compatcrypt::test
