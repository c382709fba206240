/* The chunked digest against MessageDigest of the whole: every length
 * around the block and closing-block boundaries, each cut at every pair of
 * points, and random cuts of longer data. */
#include "digest_chunks.h"

#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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

/* More than 2^32 bytes: the count wraps, as FileDigest's does. The file
 * is sparse (zeros) with a tail of data, and FileDigest is the oracle. */
static int WrapsLikeFileDigest(void) {
  char path[] = "/tmp/compatcrypt-chunks-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return printf("wrap: cannot create a file in /tmp\n"), 1;
  const off_t zeros = ((off_t)1 << 32) + 29;
  static unsigned char block[1 << 20];
  int failed = ftruncate(fd, zeros) != 0 || pwrite(fd, data, 100, zeros) != 100;
  close(fd);
  unsigned char want[20], got[20];
  int32_t outLen;
  if (!failed)
    failed = FileDigest((const unsigned char *)path, 0, want, &outLen, COMPATCRYPT_MODE) != COMPATCRYPT_OK;
  unlink(path);
  if (failed) return printf("wrap: could not write or digest a sparse file of 4 GiB\n"), 1;
  DigestChunks s;
  DigestChunksInit(&s);
  for (off_t left = zeros; left > 0;) {
    size_t n = left < (off_t)sizeof block ? (size_t)left : sizeof block - 3; /* cuts off the block bounds */
    DigestChunksUpdate(&s, block, n);
    left -= (off_t)n;
  }
  DigestChunksUpdate(&s, data, 100);
  DigestChunksFinish(&s, got);
  int wrong = memcmp(want, got, 20) != 0;
  printf("2^32 + 129 bytes: %s FileDigest\n", wrong ? "differs from" : "equals");
  return wrong;
}

int main(int argc, char **argv) {
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
  if (argc > 1 && strcmp(argv[1], "wrap") == 0) failures += WrapsLikeFileDigest();
  return failures != 0;
}
