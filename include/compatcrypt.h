/*
 * compatcrypt: digests, two-key triple-DES encoding and password keys in
 * fixed byte formats.
 *
 * Every function takes caller-owned buffers, writes its result to a
 * caller-supplied output buffer and returns a result code. The last
 * argument, `mode`, must be COMPATCRYPT_MODE (1); any other value returns
 * COMPATCRYPT_WRONG_MODE before any other argument is looked at.
 *
 * All lengths, counts and modes are 32 bits wide on every platform, so a
 * 64-bit host keeps the 32-bit layout of the original interface. Output
 * lengths (`outLen`) are written, never read: they are not capacities.
 *
 * Calls may overlap in time from any number of threads: every call has its
 * own working storage and the library takes no lock.
 */
#ifndef COMPATCRYPT_H
#define COMPATCRYPT_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(COMPATCRYPT_BUILDING)
#define COMPATCRYPT_API __declspec(dllexport)
#else
#define COMPATCRYPT_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define COMPATCRYPT_API __attribute__((visibility("default")))
#else
#define COMPATCRYPT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. 0 and positive values other than 1 are never returned. */
#define COMPATCRYPT_OK 1
#define COMPATCRYPT_WRONG_MODE (-1)
/* A key shorter than 16 bytes, a file that cannot be opened, positioned or
 * read, or any failure of EncodeKey / DecodeKey. */
#define COMPATCRYPT_FAILED (-2)
/* A failure caught during the work: a null pointer where bytes are read or
 * written, a negative MessageDigest length. */
#define COMPATCRYPT_ERROR (-3)

/* The only accepted mode argument. */
#define COMPATCRYPT_MODE 1u

/*
 * Encodes `dataLen` bytes of `data` into `dataLen` bytes at `out` under the
 * first 16 bytes of `key` (keyLen >= 16): two-key triple DES (E-D-E, outer
 * key = even-numbered key bytes, middle key = odd-numbered bytes, each DES
 * key ending at its first zero byte) in CBC mode from a zero IV. A partial
 * last block of r bytes is XORed with the first r bytes of the first cipher
 * block; inputs of 1 to 7 bytes are XORed with the encryption of the zero
 * block. `out` may be `data`. dataLen <= 0 writes nothing and returns 1.
 * Returns 1, -1 (mode), -2 (keyLen < 16), -3 (null pointer).
 */
COMPATCRYPT_API int32_t EncodeFunction(const unsigned char *data, int32_t dataLen,
                                       const unsigned char *key, int32_t keyLen,
                                       unsigned char *out, uint32_t mode);

/* The inverse of EncodeFunction for every length; `out` may be `data`.
 * Returns 1, -1 (mode), -2 (keyLen < 16), -3 (null pointer). */
COMPATCRYPT_API int32_t DecodeFunction(const unsigned char *data, int32_t dataLen,
                                       const unsigned char *key, int32_t keyLen,
                                       unsigned char *out, uint32_t mode);

/*
 * Writes the 20-byte digest of `dataLen` bytes of `data` to `out` and sets
 * *outLen to 20. Returns 1, -1 (mode), -3 (negative dataLen, null `out` or
 * `outLen`, null `data` with dataLen > 0).
 */
COMPATCRYPT_API int32_t MessageDigest(const unsigned char *data, int32_t dataLen,
                                      unsigned char *out, int32_t *outLen, uint32_t mode);

/*
 * Writes the 20-byte digest of the bytes of the file named by the
 * NUL-terminated `path`, from byte `offset` to its end, to `out` and sets
 * *outLen to 20. An offset at or past the end digests zero bytes.
 * Returns 1, -1 (mode), -2 (null path, file cannot be opened, negative
 * offset, read error, directory; nothing written), -3 (null `out`/`outLen`).
 */
COMPATCRYPT_API int32_t FileDigest(const unsigned char *path, int32_t offset, unsigned char *out,
                                   int32_t *outLen, uint32_t mode);

/*
 * Derives the 16-byte cipher key of `passwordLen` bytes of `password` (any
 * byte values; a negative length counts as 0) into `out` and sets *outLen
 * to 16. Returns 1, -1 (mode), -3 (null `out`/`outLen`, null `password`
 * with passwordLen > 0).
 */
COMPATCRYPT_API int32_t KeyGenerating(const unsigned char *password, int32_t passwordLen,
                                      unsigned char *out, int32_t *outLen, uint32_t mode);

/*
 * EncodeFunction under the key KeyGenerating derives from the NUL-terminated
 * `password`. Returns 1, -1 (mode), -2 (null pointer or any failure).
 */
COMPATCRYPT_API int32_t EncodeKey(const unsigned char *password, const unsigned char *data,
                                  int32_t dataLen, unsigned char *out, uint32_t mode);

/* DecodeFunction under the key of the NUL-terminated `password`.
 * Returns 1, -1 (mode), -2 (null pointer or any failure). */
COMPATCRYPT_API int32_t DecodeKey(const unsigned char *password, const unsigned char *data,
                                  int32_t dataLen, unsigned char *out, uint32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* COMPATCRYPT_H */
