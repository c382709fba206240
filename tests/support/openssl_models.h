// Independent models of the library's formats built on OpenSSL's SHA-1 and
// DES, for differential tests.
#pragma once

#include <cstdint>

#include "support/test_support.h"

namespace compatcrypt::test {

// The digest, with each block's transform computed by OpenSSL's
// SHA1_Transform on a fresh context (block re-packed big-endian from the
// sign-extended words) minus the initial words.
Bytes ModelDigest(const Bytes &data);

// The five transform words of one block, by the same route.
void ModelBlockWords(const unsigned char *block, uint32_t words[5]);

// The encoded-buffer format by OpenSSL's two-key triple-DES CBC, with the
// key rule applied to both halves of `key` (16 bytes).
Bytes ModelEncode(const Bytes &data, const unsigned char *key);
Bytes ModelDecode(const Bytes &data, const unsigned char *key);

// Single DES of one block by OpenSSL, with the key rule applied.
Bytes ModelDesBlock(const unsigned char *key, const unsigned char *block, bool decrypt);

}  // namespace compatcrypt::test
