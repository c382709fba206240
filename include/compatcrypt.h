/*
 * compatcrypt: digests, two-key triple-DES encoding and password keys in
 * fixed byte formats.
 *
 * Every function takes caller-owned buffers, writes its result to a
 * caller-supplied output buffer and returns a result code. The last
 * argument, `mode`, must be COMPATCRYPT_MODE (1); any other value returns
 * COMPATCRYPT_WRONG_MODE before any other argument is looked at.
 *
 * All lengths, counts and modes are 32 bits wide (int32_t, uint32_t) on
 * every platform, so one binary layout serves 32- and 64-bit hosts alike,
 * and the digest's byte count wraps modulo 2^32 everywhere. Output lengths
 * (`outLen`) are written, never read: they are not capacities.
 *
 * Every call has its own working storage and the library takes no lock, so
 * calls may overlap in time from any number of threads.
 *
 * Secrets: keys, key schedules, derived keys, passwords, plain data and the
 * pad that hides inputs of 1 to 7 bytes are wiped before a call returns,
 * the stack the call used included. Cipher blocks and digests are not
 * secret. The caller's own buffers are the caller's to wipe.
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

/* The calling convention of the seven functions: __stdcall (WINAPI) on
 * 32-bit x86 Windows, the convention of Win32 DLLs and the default of .NET
 * P/Invoke there; empty where the platform has one convention only (x64,
 * Linux). A host that declares the functions itself, or pointers to them,
 * must use the same convention. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define COMPATCRYPT_CALL __stdcall
#else
#define COMPATCRYPT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. 0 and positive values other than 1 are never returned;
 * each function's comment lists the codes it returns, and why. */
#define COMPATCRYPT_OK 1
/* The mode argument is not COMPATCRYPT_MODE; nothing else was looked at. */
#define COMPATCRYPT_WRONG_MODE (-1)
/* The function's own failure: a key shorter than 16 bytes (EncodeFunction,
 * DecodeFunction), a file that cannot be opened, positioned or read
 * (FileDigest), any failure of EncodeKey and DecodeKey. */
#define COMPATCRYPT_FAILED (-2)
/* An argument that cannot be used: a null pointer where bytes are read or
 * written, a negative MessageDigest length. */
#define COMPATCRYPT_ERROR (-3)

/* The only accepted mode argument. */
#define COMPATCRYPT_MODE 1u

/* The sizes of a digest and of a cipher key. */
#define COMPATCRYPT_DIGEST_BYTES 20
#define COMPATCRYPT_KEY_BYTES 16

/*
 * Encodes `dataLen` bytes of `data` into `dataLen` bytes at `out` under the
 * first 16 bytes of `key` (keyLen >= 16): two-key triple DES (E-D-E, outer
 * key = even-numbered key bytes, middle key = odd-numbered bytes, each DES
 * key ending at its first zero byte) in CBC mode from a zero IV. A partial
 * last block of r bytes is XORed with the first r bytes of the first cipher
 * block; inputs of 1 to 7 bytes are XORed with the encryption of the zero
 * block. `out` may be `data`. dataLen <= 0 writes nothing and returns 1.
 * Returns 1; -1 (mode); -2 (keyLen < 16, checked before anything else);
 * -3 (null `key`, or null `data` or `out` with dataLen > 0).
 */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL EncodeFunction(const unsigned char *data, int32_t dataLen,
                                                        const unsigned char *key, int32_t keyLen,
                                                        unsigned char *out, uint32_t mode);

/* The inverse of EncodeFunction for every length; `out` may be `data`.
 * Returns the same codes as EncodeFunction. */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL DecodeFunction(const unsigned char *data, int32_t dataLen,
                                                        const unsigned char *key, int32_t keyLen,
                                                        unsigned char *out, uint32_t mode);

/*
 * Writes the 20-byte digest of `dataLen` bytes of `data` to `out` and sets
 * *outLen to 20. Returns 1; -1 (mode); -3 (negative dataLen, null `data`
 * with dataLen > 0, null `out` or `outLen`; nothing read or written).
 */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL MessageDigest(const unsigned char *data, int32_t dataLen,
                                                       unsigned char *out, int32_t *outLen, uint32_t mode);

/*
 * Writes the 20-byte digest of the bytes of the file named by the
 * NUL-terminated `path`, from byte `offset` to its end, to `out` and sets
 * *outLen to 20. An offset at or past the end digests zero bytes.
 * Returns 1; -1 (mode); -2 (null `path`, a file that cannot be opened, a
 * negative offset or one that cannot be positioned (a pipe), a read error
 * (a directory, an I/O error); nothing written); -3 (null `out` or
 * `outLen`, reported only once the file has been opened and positioned).
 */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL FileDigest(const unsigned char *path, int32_t offset,
                                                    unsigned char *out, int32_t *outLen, uint32_t mode);

/*
 * Derives the 16-byte cipher key of `passwordLen` bytes of `password` (any
 * byte values; a negative length counts as 0) into `out` and sets *outLen
 * to 16. Returns 1; -1 (mode); -3 (null `password` with passwordLen > 0,
 * null `out` or `outLen`).
 */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL KeyGenerating(const unsigned char *password, int32_t passwordLen,
                                                       unsigned char *out, int32_t *outLen, uint32_t mode);

/*
 * EncodeFunction under the key KeyGenerating derives from the NUL-terminated
 * `password`. dataLen <= 0 writes nothing and returns 1. Returns 1; -1
 * (mode); -2 (null `password`, null `data` or `out` with dataLen > 0).
 */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL EncodeKey(const unsigned char *password, const unsigned char *data,
                                                   int32_t dataLen, unsigned char *out, uint32_t mode);

/* DecodeFunction under the key of the NUL-terminated `password`.
 * Returns the same codes as EncodeKey. */
COMPATCRYPT_API int32_t COMPATCRYPT_CALL DecodeKey(const unsigned char *password, const unsigned char *data,
                                                   int32_t dataLen, unsigned char *out, uint32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* COMPATCRYPT_H */
