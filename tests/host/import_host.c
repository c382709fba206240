/*
 * A Windows host in C that links against compatcrypt.dll's import library
 * and calls the seven functions as the header declares them: the import
 * library's names must be those the compiler emits for the header's calling
 * convention, and each must import a name the DLL exports. Prints one
 * success line and exits 0 only if every call gives its known answer.
 */
#include <stdio.h>
#include <string.h>

#include "compatcrypt.h"

static int failures;

static void check(int ok, const char *what) {
  if (!ok) {
    printf("FAILED: %s\n", what);
    ++failures;
  }
}

int main(void) {
  const unsigned char abc[] = "abc";
  const unsigned char abcDigest[20] = {0xcf, 0x09, 0x4c, 0xf0, 0xe4, 0xf3, 0x00, 0x1a, 0x04, 0xda,
                                       0x7f, 0x2b, 0xfb, 0xcb, 0xa2, 0x47, 0xdd, 0xf9, 0x2d, 0x2c};
  /* NIST TECBMMT2 COUNT=0: outer key ad192fd064b5579e and middle key
   * 7a4fb3c8f794f22a interleaved, one block. */
  const unsigned char key[16] = {0xad, 0x7a, 0x19, 0x4f, 0x2f, 0xb3, 0xd0, 0xc8,
                                 0x64, 0xf7, 0xb5, 0x94, 0x57, 0xf2, 0x9e, 0x2a};
  const unsigned char plain[8] = {0x13, 0xba, 0xd5, 0x42, 0xf3, 0x65, 0x2d, 0x67};
  const unsigned char cipher[8] = {0x90, 0x8e, 0x54, 0x3c, 0xf2, 0xcb, 0x25, 0x4f};
  const unsigned char password[] = "password";
  const unsigned char data[13] = "hello, world";
  unsigned char out[20], derived[16], viaKey[13], viaPassword[13];
  int32_t outLen = 0;

  check(MessageDigest(abc, 3, out, &outLen, COMPATCRYPT_MODE) == COMPATCRYPT_OK && outLen == 20 &&
            memcmp(out, abcDigest, 20) == 0,
        "MessageDigest abc");
  check(FileDigest((const unsigned char *)"compatcrypt-no-such-file", 0, out, &outLen, COMPATCRYPT_MODE) ==
            COMPATCRYPT_FAILED,
        "FileDigest of a missing file");
  check(EncodeFunction(plain, 8, key, 16, out, COMPATCRYPT_MODE) == COMPATCRYPT_OK &&
            memcmp(out, cipher, 8) == 0,
        "EncodeFunction NIST block");
  check(DecodeFunction(cipher, 8, key, 16, out, COMPATCRYPT_MODE) == COMPATCRYPT_OK &&
            memcmp(out, plain, 8) == 0,
        "DecodeFunction NIST block");
  check(KeyGenerating(password, 8, derived, &outLen, COMPATCRYPT_MODE) == COMPATCRYPT_OK && outLen == 16,
        "KeyGenerating");
  check(EncodeFunction(data, 13, derived, 16, viaKey, COMPATCRYPT_MODE) == COMPATCRYPT_OK &&
            EncodeKey(password, data, 13, viaPassword, COMPATCRYPT_MODE) == COMPATCRYPT_OK &&
            memcmp(viaKey, viaPassword, 13) == 0,
        "EncodeKey equals EncodeFunction under KeyGenerating's key");
  check(DecodeKey(password, viaPassword, 13, out, COMPATCRYPT_MODE) == COMPATCRYPT_OK &&
            memcmp(out, data, 13) == 0,
        "DecodeKey round trip");

  if (failures != 0) return 1;
  printf("compatcrypt.dll: all seven functions linked through the import library and checked\n");
  return 0;
}
