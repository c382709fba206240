/* Writes the known-answer table of the SQL suites: inputs of many lengths
 * (around the 8-byte blocks, the digest's 56- and 64-byte limits), keys
 * with zero bytes among them, passwords, and what libcompatcrypt gives for
 * each, as SQL INSERTs in the dialect named by argv[1] ("postgresql" or
 * "sqlite"). "file PATH OFFSET" prints FileDigest's digest of the file in
 * hex instead. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "compatcrypt.h"

static int sqlite;

static void Bytes(const unsigned char *b, size_t n) {
  printf(sqlite ? "X'" : "'\\x");
  for (size_t i = 0; i < n; i++) printf("%02x", b[i]);
  printf(sqlite ? "'" : "'::bytea");
}

static int FileMode(const char *path, const char *offset) {
  unsigned char digest[20];
  int32_t len;
  int32_t rc = FileDigest((const unsigned char *)path, (int32_t)strtol(offset, NULL, 10), digest, &len,
                          COMPATCRYPT_MODE);
  if (rc != COMPATCRYPT_OK) {
    fprintf(stderr, "sql_oracle: FileDigest gave %d\n", (int)rc);
    return 1;
  }
  for (int i = 0; i < 20; i++) printf("%02x", digest[i]);
  printf("\n");
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "file") == 0) return FileMode(argv[2], argv[3]);
  if (argc != 2 || (strcmp(argv[1], "postgresql") != 0 && strcmp(argv[1], "sqlite") != 0)) {
    fprintf(stderr, "usage: sql_oracle postgresql|sqlite|file PATH OFFSET\n");
    return 2;
  }
  sqlite = strcmp(argv[1], "sqlite") == 0;
  static const int lengths[] = {0,  1,  2,  7,  8,  9,  15,  16,  17,  24,   31,  55,
                                56, 57, 63, 64, 65, 96, 127, 128, 200, 1000, 4099};
  uint32_t x = 2024;
  int id = 0;
  for (size_t li = 0; li < sizeof lengths / sizeof lengths[0]; li++) {
    for (int variant = 0; variant < 4; variant++, id++) {
      int n = lengths[li];
      unsigned char data[4099], key[16], out[4099], dec[4099], pwKey[16], pwEnc[4099], pwDec[4099],
          digest[20];
      char password[32];
      for (int i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        data[i] = (unsigned char)(x >> 16);
      }
      for (int i = 0; i < 16; i++) {
        x = x * 1103515245u + 12345u;
        key[i] = (unsigned char)(x >> 16);
      }
      if (variant == 1) key[5] = key[10] = 0; /* each DES key ends at its first zero byte */
      if (variant == 2) memset(key, 0, sizeof key);
      int pwLen = (int)(x >> 20) % 20;
      for (int i = 0; i < pwLen; i++) {
        x = x * 1103515245u + 12345u;
        password[i] = (char)(' ' + 1 + (x >> 16) % 94); /* printable, no quote issues below */
        if (password[i] == '\'' || password[i] == '\\') password[i] = 'q';
      }
      password[pwLen] = '\0';
      int32_t len;
      if (EncodeFunction(data, n, key, 16, out, COMPATCRYPT_MODE) != 1 ||
          DecodeFunction(data, n, key, 16, dec, COMPATCRYPT_MODE) != 1 ||
          MessageDigest(data, n, digest, &len, COMPATCRYPT_MODE) != 1 ||
          KeyGenerating((const unsigned char *)password, pwLen, pwKey, &len, COMPATCRYPT_MODE) != 1 ||
          EncodeKey((const unsigned char *)password, data, n, pwEnc, COMPATCRYPT_MODE) != 1 ||
          DecodeKey((const unsigned char *)password, data, n, pwDec, COMPATCRYPT_MODE) != 1) {
        fprintf(stderr, "sql_oracle: the library failed on case %d\n", id);
        return 1;
      }
      printf("INSERT INTO cases VALUES (%d, ", id);
      Bytes(data, (size_t)n);
      printf(", ");
      Bytes(key, 16);
      printf(", '%s', ", password);
      Bytes(digest, 20);
      printf(", ");
      Bytes(out, (size_t)n);
      printf(", ");
      Bytes(dec, (size_t)n);
      printf(", ");
      Bytes(pwKey, 16);
      printf(", ");
      Bytes(pwEnc, (size_t)n);
      printf(", ");
      Bytes(pwDec, (size_t)n);
      printf(");\n");
    }
  }
  return 0;
}
