// Independent models of the library's formats built on OpenSSL's SHA-1 and
// DES, for differential tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/test_support.h"

namespace compatcrypt::test {

// The digest, with each block's transform computed by OpenSSL's
// SHA1_Transform on a fresh context (block re-packed big-endian from the
// sign-extended words) minus the initial words.
Bytes ModelDigest(const Bytes &data);

// ModelDigest over data given in pieces of any size, for inputs too large to
// hold (more than 4 GiB, whose byte count wraps modulo 2^32). The all-zero
// block's words are computed once by the same route and reused, so long
// zero runs cost a comparison per block, not a transform.
class ModelDigestStream {
 public:
  void Update(const unsigned char *data, std::size_t size);
  // Feeds `size` zero bytes.
  void UpdateZeros(std::size_t size);
  Bytes Finish() const;

 private:
  void AddBlock(const unsigned char *block);
  uint32_t sums_[5] = {};
  uint64_t count_ = 0;
  unsigned char pending_[64] = {};
  std::size_t pendingLen_ = 0;
  bool haveZeroWords_ = false;
  uint32_t zeroWords_[5] = {};
};

// The five transform words of one block, by the same route.
void ModelBlockWords(const unsigned char *block, uint32_t words[5]);

// The encoded-buffer format by OpenSSL's two-key triple-DES CBC, with the
// key rule applied to both halves of `key` (16 bytes).
Bytes ModelEncode(const Bytes &data, const unsigned char *key);
Bytes ModelDecode(const Bytes &data, const unsigned char *key);

// KeyGenerating's key of `password`: the fold of the (filled) password to
// a seed, then the seed and the first half each encrypted under themselves
// by OpenSSL's DES.
Bytes ModelPasswordKey(const Bytes &password);

// Single DES of one block by OpenSSL, with the key rule applied.
Bytes ModelDesBlock(const unsigned char *key, const unsigned char *block, bool decrypt);

// Two-key triple-DES CBC by OpenSSL over whole blocks (`data` a multiple
// of 8 bytes) from the cipher block `iv` (8 bytes), with the key rule
// applied to both halves of `key` (16 bytes).
Bytes ModelTripleCbc(const unsigned char *key, const unsigned char *iv, const Bytes &data, bool decrypt);

}  // namespace compatcrypt::test
