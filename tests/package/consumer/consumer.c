/* Links against the installed shared library and checks one known answer. */
#include <compatcrypt.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  static const char expected[] = "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c";
  unsigned char digest[20];
  int32_t digestLen = 0;
  char hex[41];
  if (MessageDigest((const unsigned char *)"abc", 3, digest, &digestLen, COMPATCRYPT_MODE) != COMPATCRYPT_OK)
    return 1;
  for (int i = 0; i < 20; ++i) sprintf(hex + 2 * i, "%02x", digest[i]);
  if (strcmp(hex, expected) != 0) return 1;
  printf("consumer_c: %s\n", hex);
  return 0;
}
