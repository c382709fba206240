/* The chunked digest against MessageDigest of the whole: every length
 * around the block and closing-block boundaries, each cut at every pair of
 * points, and random cuts of longer data. */
#include "digest_chunks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "compatcrypt.h"

static unsigned char data[70000];
static int failures;

static void Expect(const unsigned char *d, size_t n, const size_t *cuts, size_t ncuts) {
  unsigned char want[20], got[20];
  int32_t outLen;
  if (MessageDigest(d, (int32_t)n, want, &outLen, COMPATCRYPT_MODE) != COMPATCRYPT_OK) {
    printf("MessageDigest failed for %zu bytes\n", n);
    failures++;
    return;
  }
  DigestChunks s;
  DigestChunksInit(&s);
  size_t at = 0;
  for (size_t i = 0; i <= ncuts; i++) {
    size_t end = i < ncuts ? cuts[i] : n;
    if (DigestChunksUpdate(&s, d + at, end - at) != COMPATCRYPT_OK) failures++;
    at = end;
  }
  if (DigestChunksFinish(&s, got) != COMPATCRYPT_OK || memcmp(want, got, 20) != 0) {
    if (failures++ < 10) {
      printf("mismatch: %zu bytes cut at", n);
      for (size_t i = 0; i < ncuts; i++) printf(" %zu", cuts[i]);
      printf("\n");
    }
  }
}

int main(void) {
  uint32_t x = 12345;
  for (size_t i = 0; i < sizeof data; i++) {
    x = x * 1103515245u + 12345u;
    data[i] = (unsigned char)(x >> 16); /* bytes of 0x80 and up: the sign-extended packing */
  }
  size_t checks = 0;
  /* Lengths 0 to 200: one, two and three closing blocks' worth, each cut at
   * every pair of points (empty chunks included). */
  for (size_t n = 0; n <= 200; n++) {
    for (size_t a = 0; a <= n; a++) {
      for (size_t b = a; b <= n; b += (n > 130 ? 7 : 1)) {
        size_t cuts[2] = {a, b};
        Expect(data, n, cuts, 2);
        checks++;
      }
    }
  }
  /* Longer data in many random pieces. */
  for (int round = 0; round < 300; round++) {
    x = x * 1103515245u + 12345u;
    size_t n = (x >> 8) % sizeof data;
    size_t cuts[64], ncuts = 0, at = 0;
    while (ncuts < 64) {
      x = x * 1103515245u + 12345u;
      at += (x >> 8) % (n / 8 + 2);
      if (at > n) break;
      cuts[ncuts++] = at;
    }
    Expect(data, n, cuts, ncuts);
    checks++;
  }
  printf("%zu chunkings checked, %d failures\n", checks, failures);
  return failures != 0;
}
