/*
 * A demonstration host: loads the compatcrypt shared library by name, the
 * way the library's hosts do, resolves its functions and uses them.
 *
 *   compatcrypt-demo                        a tour: every service once, on an
 *                                           embedded sample, in a few lines
 *   compatcrypt-demo FILE...                digest of each file
 *   compatcrypt-demo keygen                 derived key of the password read
 *                                           from standard input
 *   compatcrypt-demo encode|decode KEYSPEC [FILE]
 *                                           encoded/decoded bytes to stdout;
 *                                           KEYSPEC is --key HEX32,
 *                                           --password-env VAR or
 *                                           --password-file FILE
 *
 * A password read from a file or standard input is its first line without
 * the line ending, LF or CRLF, as the compatcrypt tool reads it.
 */
#define _GNU_SOURCE /* dladdr */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int32_t (*DigestFn)(const unsigned char *, int32_t, unsigned char *, int32_t *, uint32_t);
typedef int32_t (*CoderFn)(const unsigned char *, int32_t, const unsigned char *, int32_t, unsigned char *,
                           uint32_t);

static void *library;

static void *Resolve(const char *name) {
  void *symbol = dlsym(library, name);
  if (symbol == NULL) {
    fprintf(stderr, "compatcrypt-demo: %s not found in the library\n", name);
    exit(2);
  }
  return symbol;
}

static void PrintHex(const unsigned char *bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) printf("%02x", bytes[i]);
}

static int DigestFiles(int count, char **paths) {
  DigestFn fileDigest = (DigestFn)Resolve("FileDigest");
  int status = 0;
  for (int i = 0; i < count; ++i) {
    unsigned char digest[20];
    int32_t digestLen = 0;
    int32_t result = fileDigest((const unsigned char *)paths[i], 0, digest, &digestLen, 1);
    if (result != 1) {
      fprintf(stderr, "compatcrypt-demo: %s: cannot be read (result %d)\n", paths[i], (int)result);
      status = 1;
      continue;
    }
    PrintHex(digest, (size_t)digestLen);
    printf("  %s\n", paths[i]);
  }
  return status;
}

static int DeriveKey(const char *password, unsigned char key[16]) {
  DigestFn keyGenerating = (DigestFn)Resolve("KeyGenerating");
  int32_t keyLen = 0;
  return keyGenerating((const unsigned char *)password, (int32_t)strlen(password), key, &keyLen, 1) == 1;
}

static const unsigned char kSample[] = "The quick brown fox jumps over the lazy dog";
static const char kSamplePassword[] = "demo password";

/* Every service once: the digest of the sample and of a file (the library
 * itself), a key from a password, the sample encoded and decoded with the
 * round trip checked, the result code of a bad argument, and where the
 * library was loaded from. */
static int Tour(void) {
  DigestFn messageDigest = (DigestFn)Resolve("MessageDigest");
  DigestFn fileDigest = (DigestFn)Resolve("FileDigest");
  CoderFn encodeFunction = (CoderFn)Resolve("EncodeFunction");
  CoderFn decodeFunction = (CoderFn)Resolve("DecodeFunction");
  const int32_t size = (int32_t)(sizeof kSample - 1);
  Dl_info where;
  const char *path =
      dladdr((void *)messageDigest, &where) != 0 && where.dli_fname != NULL ? where.dli_fname : "?";
  printf("library   %s\n", path);

  unsigned char digest[20], key[16], encoded[sizeof kSample], decoded[sizeof kSample];
  int32_t digestLen = 0;
  if (messageDigest(kSample, size, digest, &digestLen, 1) != 1) return 1;
  printf("sample    \"%s\" (%d bytes)\n", kSample, (int)size);
  printf("digest    ");
  PrintHex(digest, sizeof digest);
  printf("  of the sample\n");
  if (fileDigest((const unsigned char *)path, 0, digest, &digestLen, 1) == 1) {
    printf("file      ");
    PrintHex(digest, sizeof digest);
    printf("  of the library's own file\n");
  }
  if (!DeriveKey(kSamplePassword, key)) return 1;
  printf("key       ");
  PrintHex(key, sizeof key);
  printf("  from the password \"%s\"\n", kSamplePassword);
  if (encodeFunction(kSample, size, key, 16, encoded, 1) != 1) return 1;
  printf("encoded   ");
  PrintHex(encoded, (size_t)size);
  printf("\n");
  if (decodeFunction(encoded, size, key, 16, decoded, 1) != 1) return 1;
  const int roundTrip = memcmp(decoded, kSample, (size_t)size) == 0;
  printf("decoded   \"%.*s\": the round trip %s\n", (int)size, (const char *)decoded,
         roundTrip ? "gives the sample back" : "FAILED");
  printf("bad key   EncodeFunction with a 15-byte key returns %d\n",
         (int)encodeFunction(kSample, size, key, 15, encoded, 1));
  return roundTrip ? 0 : 1;
}

static int HexNibble(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* The first line of `in` without its line ending: LF, or CR LF (a CR with
 * no LF after it belongs to the password). A NUL byte could not be passed
 * on, so a line holding one is refused. Returns a malloc'd string or NULL. */
static char *ReadFirstLine(FILE *in) {
  size_t capacity = 64, used = 0;
  char *line = malloc(capacity);
  int c = EOF;
  while (line != NULL && (c = getc(in)) != EOF && c != '\n') {
    if (c == '\0') {
      free(line);
      return NULL;
    }
    if (used + 1 == capacity) {
      char *grown = malloc(capacity * 2);
      if (grown != NULL) memcpy(grown, line, used);
      memset(line, 0, capacity);
      free(line);
      line = grown;
      capacity *= 2;
      if (line == NULL) return NULL;
    }
    line[used++] = (char)c;
  }
  if (line == NULL || ferror(in)) {
    free(line);
    return NULL;
  }
  if (c == '\n' && used > 0 && line[used - 1] == '\r') --used;
  line[used] = '\0';
  return line;
}

static int DeriveKeyFromLine(FILE *in, unsigned char key[16]) {
  char *password = ReadFirstLine(in);
  if (password == NULL) return 0;
  const int derived = DeriveKey(password, key);
  memset(password, 0, strlen(password));
  free(password);
  return derived;
}

static int ReadKeySpec(const char *option, const char *value, unsigned char key[16]) {
  if (strcmp(option, "--key") == 0) {
    if (strlen(value) != 32) return 0;
    for (int i = 0; i < 16; ++i) {
      int high = HexNibble(value[2 * i]), low = HexNibble(value[2 * i + 1]);
      if (high < 0 || low < 0) return 0;
      key[i] = (unsigned char)(high << 4 | low);
    }
    return 1;
  }
  if (strcmp(option, "--password-env") == 0) {
    const char *password = getenv(value);
    return password != NULL && DeriveKey(password, key);
  }
  if (strcmp(option, "--password-file") == 0) {
    FILE *file = fopen(value, "rb");
    if (file == NULL) return 0;
    const int derived = DeriveKeyFromLine(file, key);
    fclose(file);
    return derived;
  }
  return 0;
}

/* Reads a whole stream into memory: the demo keeps to inputs the 32-bit
 * length of the interface can describe. */
static unsigned char *ReadAll(FILE *in, size_t *size) {
  size_t capacity = 1 << 16, used = 0;
  unsigned char *buffer = malloc(capacity);
  size_t got;
  while (buffer != NULL && (got = fread(buffer + used, 1, capacity - used, in)) > 0) {
    used += got;
    if (used == capacity) {
      unsigned char *grown = capacity <= INT32_MAX / 2 ? realloc(buffer, capacity * 2) : NULL;
      if (grown == NULL) {
        free(buffer);
        return NULL;
      }
      buffer = grown;
      capacity *= 2;
    }
  }
  if (buffer != NULL && ferror(in)) {
    free(buffer);
    return NULL;
  }
  *size = used;
  return buffer;
}

static int Code(int encode, int argc, char **argv) {
  unsigned char key[16];
  if (argc < 2 || !ReadKeySpec(argv[0], argv[1], key)) {
    fprintf(stderr, "compatcrypt-demo: need --key HEX32, --password-env VAR or --password-file FILE\n");
    return 2;
  }
  FILE *in = argc >= 3 ? fopen(argv[2], "rb") : stdin;
  if (in == NULL) {
    fprintf(stderr, "compatcrypt-demo: %s: cannot open\n", argv[2]);
    return 1;
  }
  size_t size = 0;
  unsigned char *data = ReadAll(in, &size);
  if (in != stdin) fclose(in);
  if (data == NULL || size > INT32_MAX) {
    fprintf(stderr, "compatcrypt-demo: input cannot be read or is too large\n");
    free(data);
    return 1;
  }
  CoderFn coder = (CoderFn)Resolve(encode ? "EncodeFunction" : "DecodeFunction");
  int32_t result = coder(data, (int32_t)size, key, 16, data, 1); /* in place */
  if (result == 1) fwrite(data, 1, size, stdout);
  free(data);
  return result == 1 ? 0 : 1;
}

static int Keygen(void) {
  unsigned char key[16];
  if (!DeriveKeyFromLine(stdin, key)) return 1;
  PrintHex(key, 16);
  printf("\n");
  return 0;
}

int main(int argc, char **argv) {
  /* Where to find the library: the environment, then the build tree, then
   * the installed SONAME through the loader's search path. */
  const char *candidates[] = {getenv("COMPATCRYPT_DEMO_LIBRARY"),
#ifdef COMPATCRYPT_DEMO_LIBRARY
                              COMPATCRYPT_DEMO_LIBRARY,
#endif
                              "libcompatcrypt.so.1"};
  for (size_t i = 0; i < sizeof candidates / sizeof candidates[0] && library == NULL; ++i)
    if (candidates[i] != NULL) library = dlopen(candidates[i], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "compatcrypt-demo: cannot load the library: %s\n", dlerror());
    return 2;
  }
  int status;
  if (argc >= 2 && strcmp(argv[1], "keygen") == 0)
    status = Keygen();
  else if (argc >= 2 && strcmp(argv[1], "encode") == 0)
    status = Code(1, argc - 2, argv + 2);
  else if (argc >= 2 && strcmp(argv[1], "decode") == 0)
    status = Code(0, argc - 2, argv + 2);
  else if (argc >= 2)
    status = DigestFiles(argc - 1, argv + 1);
  else
    status = Tour();
  dlclose(library);
  return status;
}
