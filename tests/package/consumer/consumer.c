/* Links against the installed libcompatcrypt and checks known answers. */
#include <compatcrypt.h>
#include <stdio.h>
#include <string.h>

static const struct {
  const char *data;
  const char *digest;
} cases[] = {
    {"abc", "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c"},
    {"", "e4e16e2b64e18a6650f05fd3f2ead2aea3582446"},
};

int main(void) {
  for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
    unsigned char digest[COMPATCRYPT_DIGEST_BYTES];
    int32_t digestLen = 0;
    char hex[2 * COMPATCRYPT_DIGEST_BYTES + 1];
    const int32_t result = MessageDigest((const unsigned char *)cases[c].data, (int32_t)strlen(cases[c].data),
                                         digest, &digestLen, COMPATCRYPT_MODE);
    if (result != COMPATCRYPT_OK || digestLen != COMPATCRYPT_DIGEST_BYTES) {
      fprintf(stderr, "consumer_c: MessageDigest(\"%s\") returned %d, length %d\n", cases[c].data, (int)result,
              (int)digestLen);
      return 1;
    }
    for (int i = 0; i < COMPATCRYPT_DIGEST_BYTES; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    if (strcmp(hex, cases[c].digest) != 0) {
      fprintf(stderr, "consumer_c: digest of \"%s\" is %s, expected %s\n", cases[c].data, hex, cases[c].digest);
      return 1;
    }
  }
  printf("consumer_c: ok\n");
  return 0;
}
