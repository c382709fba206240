/*
 * compatcrypt's binding surface: what a binding for another language or
 * host (a database, an interpreter, a runtime) needs of the library, as
 * plain C that any foreign-function interface can call.
 *
 * The seven functions of compatcrypt.h each do a whole job in one call.
 * A host that must be able to stop a long call (a database's statement
 * timeout, an interpreter's Ctrl-C, a runtime's abort signal) needs the
 * same work in pieces, and a binding should ask the library for its rules
 * instead of writing them again. This surface offers both:
 *
 *   - the digest as a stream (update, finish) and the file digest read in
 *     pieces from an offset;
 *   - the encoder and decoder as streams, the tail rule applied at the end;
 *   - the key rules: the key bytes in effect after the zero-byte rule, with
 *     the warning text; the password policy; keys from passwords and hex;
 *   - a message for every result code.
 *
 * A binding loops over pieces of compatcrypt_bind_piece_bytes() and asks
 * its host between two pieces whether to go on.
 *
 * Conventions:
 *   - Objects are opaque handles. Each kind can live in memory the binding
 *     owns (`_size`, then `_init` into that memory: a database's memory
 *     context, an aggregate's state; any alignment) or be allocated here
 *     (`_new`). `_destroy` wipes every secret the object holds (keys, key
 *     schedules, held plain bytes) and frees what `_new` allocated; after
 *     it the memory may be reused. A handle that is null or was never made
 *     by `_init`/`_new` gives COMPATCRYPT_BIND_E_ARGUMENT.
 *   - Every function returns an int result: COMPATCRYPT_BIND_OK (1) or a
 *     negative code, never 0; compatcrypt_bind_message() names each code.
 *     No message ever holds a key, a password or a data byte.
 *   - Lengths are size_t: inputs of 2 GiB and more follow the same formats
 *     (the digest's byte count wraps modulo 2^32).
 *   - No function keeps a pointer to the caller's buffers after it returns;
 *     one object is used by one thread at a time, different objects by any
 *     number of threads at once.
 *
 * The surface is versioned: COMPATCRYPT_BIND_VERSION is the version this
 * header describes, compatcrypt_bind_version() the one the library offers;
 * a binding built for version N runs with any library offering N or more.
 * It lives in libcompatcrypt-cxx (link with -lcompatcrypt-cxx, or CMake's
 * compatcrypt::cxx), beside the C++ interface that is built on the same
 * core; libcompatcrypt keeps exactly its seven functions.
 */
#ifndef COMPATCRYPT_BIND_H
#define COMPATCRYPT_BIND_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define COMPATCRYPT_BIND_API __attribute__((visibility("default")))
#else
#define COMPATCRYPT_BIND_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define COMPATCRYPT_BIND_VERSION 1

/* Sizes of the formats. */
#define COMPATCRYPT_BIND_DIGEST_BYTES 20
#define COMPATCRYPT_BIND_DIGEST_BLOCK_BYTES 64 /* the digest's block */
#define COMPATCRYPT_BIND_KEY_BYTES 16
#define COMPATCRYPT_BIND_HEX_KEY_CHARS 32

/* Result codes. */
#define COMPATCRYPT_BIND_OK 1
/* A file cannot be opened, positioned or read; the system's reason is
 * given as an errno value where the function has an `os_error`. A FIFO or
 * socket gives ESPIPE: it cannot be read from an offset; so does an offset
 * other than 0 on a device that keeps no position (/dev/null, /dev/zero). */
#define COMPATCRYPT_BIND_E_FILE (-2)
/* An argument that cannot be used: a null pointer where memory is read or
 * written, a handle that is not one, memory too small for an object. */
#define COMPATCRYPT_BIND_E_ARGUMENT (-3)
/* A key that is not 16 bytes. */
#define COMPATCRYPT_BIND_E_KEY_LENGTH (-4)
/* An output buffer shorter than the bytes the call writes. */
#define COMPATCRYPT_BIND_E_OUTPUT_SIZE (-5)
/* The password is empty: its key is the same for everyone. */
#define COMPATCRYPT_BIND_E_PASSWORD_EMPTY (-6)
/* A zero byte inside a password that is taken as a NUL-terminated string,
 * where it would end the password without a word. */
#define COMPATCRYPT_BIND_E_PASSWORD_NUL (-7)
/* Memory for a `_new` object could not be allocated. */
#define COMPATCRYPT_BIND_E_NO_MEMORY (-8)
/* A hex key that is not exactly 32 hex digits. */
#define COMPATCRYPT_BIND_E_KEY_HEX (-9)
/* A call out of order (a file read before it was opened or after it
 * failed, a finish before the end was read). */
#define COMPATCRYPT_BIND_E_STATE (-10)

/* The surface's version (COMPATCRYPT_BIND_VERSION of the library). */
COMPATCRYPT_BIND_API uint32_t compatcrypt_bind_version(void);

/* A sentence for a result code, without a trailing full stop: for example
 * "key must be 16 bytes". Never null: an unknown code gives "unknown
 * result code". Static text; the caller adds what it knows (the function,
 * the argument's name, a file name, the system's reason). */
COMPATCRYPT_BIND_API const char *compatcrypt_bind_message(int code);

/* The bytes to hand over between two checks of the host: long enough that
 * the checks cost nothing measurable, short enough that the slowest work
 * (serial encoding on the portable engine) stops within a few tens of
 * milliseconds. */
COMPATCRYPT_BIND_API size_t compatcrypt_bind_piece_bytes(void);

/* ---- Digest stream --------------------------------------------------- */

typedef struct compatcrypt_bind_digest compatcrypt_bind_digest;

COMPATCRYPT_BIND_API size_t compatcrypt_bind_digest_size(void);
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_init(void *memory, size_t size,
                                                      compatcrypt_bind_digest **out);
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_new(compatcrypt_bind_digest **out);
/* A new digest holding a copy of `from`'s data so far. */
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_copy(const compatcrypt_bind_digest *from, void *memory,
                                                      size_t size, compatcrypt_bind_digest **out);
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_update(compatcrypt_bind_digest *digest, const void *data,
                                                        size_t size);
/* The digest of everything given so far; the stream goes on. */
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_value(const compatcrypt_bind_digest *digest,
                                                       uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES]);
/* The digest of everything given so far; the stream starts a new message. */
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_finish(compatcrypt_bind_digest *digest,
                                                        uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES]);
COMPATCRYPT_BIND_API int compatcrypt_bind_digest_destroy(compatcrypt_bind_digest *digest);

/* ---- File digest, read in pieces -------------------------------------- */

/* The digest of a file's bytes from an offset to its end, the same bytes
 * as a buffer's digest of those bytes. Opening never waits: a FIFO or a
 * socket is refused at once (COMPATCRYPT_BIND_E_FILE, ESPIPE). Read in
 * pieces, so an endless device (/dev/zero) or a huge file can be stopped
 * between two reads. */
typedef struct compatcrypt_bind_file compatcrypt_bind_file;

COMPATCRYPT_BIND_API size_t compatcrypt_bind_file_size(void);
COMPATCRYPT_BIND_API int compatcrypt_bind_file_init(void *memory, size_t size, compatcrypt_bind_file **out);
COMPATCRYPT_BIND_API int compatcrypt_bind_file_new(compatcrypt_bind_file **out);
/* Opens `path` (a NUL-terminated name, handed to the system unchanged) at
 * `offset` (0 to 2^63 - 1; an offset at or past the end digests no bytes).
 * On COMPATCRYPT_BIND_E_FILE, `*os_error` (if not null) is the errno. */
COMPATCRYPT_BIND_API int compatcrypt_bind_file_open(compatcrypt_bind_file *file, const char *path,
                                                    int64_t offset, int *os_error);
/* Reads and digests about `limit` bytes (0: to the end). `*done` becomes 1
 * when the end was reached, 0 when there is more. */
COMPATCRYPT_BIND_API int compatcrypt_bind_file_read(compatcrypt_bind_file *file, size_t limit, int *done,
                                                    int *os_error);
/* After a read that reached the end: the digest. */
COMPATCRYPT_BIND_API int compatcrypt_bind_file_finish(compatcrypt_bind_file *file,
                                                      uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES]);
/* Closes the file. */
COMPATCRYPT_BIND_API int compatcrypt_bind_file_destroy(compatcrypt_bind_file *file);

/* ---- Encoder and decoder streams ----------------------------------- */

/* The outputs of every update followed by finish, concatenated, equal the
 * coding of the concatenated inputs. Whole 8-byte blocks come out as soon
 * as they are complete; up to 7 bytes are held back until finish, which
 * applies the tail rule and starts a new message under the same key, so one
 * coder (one key schedule) serves any number of records in turn.
 * In place: `out` may be `in` when nothing is held (finish_size() is 0). */
typedef struct compatcrypt_bind_coder compatcrypt_bind_coder;

#define COMPATCRYPT_BIND_ENCODE 1
#define COMPATCRYPT_BIND_DECODE 2

COMPATCRYPT_BIND_API size_t compatcrypt_bind_coder_size(void);
/* `direction` is COMPATCRYPT_BIND_ENCODE or _DECODE; `key` 16 bytes
 * (COMPATCRYPT_BIND_E_KEY_LENGTH otherwise). */
COMPATCRYPT_BIND_API int compatcrypt_bind_coder_init(void *memory, size_t size, int direction,
                                                     const uint8_t *key, size_t key_size,
                                                     compatcrypt_bind_coder **out);
COMPATCRYPT_BIND_API int compatcrypt_bind_coder_new(int direction, const uint8_t *key, size_t key_size,
                                                    compatcrypt_bind_coder **out);
/* The bytes update writes for `in_size` more bytes, and finish writes; 0
 * for a handle that is not one. */
COMPATCRYPT_BIND_API size_t compatcrypt_bind_coder_update_size(const compatcrypt_bind_coder *coder,
                                                               size_t in_size);
COMPATCRYPT_BIND_API size_t compatcrypt_bind_coder_finish_size(const compatcrypt_bind_coder *coder);
COMPATCRYPT_BIND_API int compatcrypt_bind_coder_update(compatcrypt_bind_coder *coder, const void *in,
                                                       size_t in_size, void *out, size_t out_size,
                                                       size_t *written);
COMPATCRYPT_BIND_API int compatcrypt_bind_coder_finish(compatcrypt_bind_coder *coder, void *out,
                                                       size_t out_size, size_t *written);
/* A batch of records, each a message of its own (the tail rule per record):
 * record i is bytes offsets[i] to offsets[i + 1] of `in` (count + 1
 * non-decreasing offsets), coded to the same bytes of `out`, which is `in`
 * itself or overlaps none of it; bytes before offsets[0] and after
 * offsets[count] are neither read nor written. The blocks of all records go
 * through the batch engines together, many records at once, where a loop
 * of update and finish codes one record after another: the form for a
 * table of short records. The coder must hold no bytes
 * (COMPATCRYPT_BIND_E_STATE otherwise); its key schedule is reused. A
 * binding that must stay stoppable calls it over runs of records of about
 * compatcrypt_bind_piece_bytes(). */
COMPATCRYPT_BIND_API int compatcrypt_bind_coder_batch(compatcrypt_bind_coder *coder, const void *in,
                                                      const size_t *offsets, size_t count, void *out,
                                                      size_t out_size);
COMPATCRYPT_BIND_API int compatcrypt_bind_coder_destroy(compatcrypt_bind_coder *coder);

/* ---- Keys and their rules -------------------------------------------- */

/* The key KeyGenerating derives from exactly these bytes (zero bytes
 * included; EncodeKey and DecodeKey take the bytes before the first NUL).
 * No policy is applied here: see compatcrypt_bind_password_check. */
COMPATCRYPT_BIND_API int compatcrypt_bind_key_from_password(const void *password, size_t size,
                                                            uint8_t key[COMPATCRYPT_BIND_KEY_BYTES]);
/* Exactly 32 hex digits of either case. */
COMPATCRYPT_BIND_API int compatcrypt_bind_key_from_hex(const char *hex, size_t size,
                                                       uint8_t key[COMPATCRYPT_BIND_KEY_BYTES]);

/* The zero-byte rule. Each half of a key (the outer DES key of the even-
 * numbered bytes, the middle key of the odd-numbered ones) is read up to
 * its first zero byte; the bytes after it count as zero. A half is cut when
 * that drops a non-zero byte: the key then codes exactly as a shorter one.
 * Writes the bytes in effect of each half (8 when not cut) and the key as
 * the cipher uses it (`effective`, may be null). */
COMPATCRYPT_BIND_API int compatcrypt_bind_key_in_effect(const uint8_t *key, size_t key_size, int *outer_bytes,
                                                        int *middle_bytes,
                                                        uint8_t effective[COMPATCRYPT_BIND_KEY_BYTES]);
/* The warning a front end gives for a cut key, as one line without a
 * prefix: "a zero byte cuts the outer key to 3 of 8 bytes; 11 of 16 key
 * bytes are in effect". Writes at most `size` bytes, NUL included (as
 * snprintf), and returns the message's length: 0 when no half is cut (the
 * buffer then holds ""), negative for a key of the wrong length. */
COMPATCRYPT_BIND_API int compatcrypt_bind_key_warning(const uint8_t *key, size_t key_size, char *buffer,
                                                      size_t size);

/* The password policy: COMPATCRYPT_BIND_E_PASSWORD_NUL when `flags` has
 * COMPATCRYPT_BIND_PASSWORD_STRING and the password holds a zero byte (a
 * NUL-terminated password would end there); COMPATCRYPT_BIND_E_PASSWORD_EMPTY
 * for an empty password, whose key is public; COMPATCRYPT_BIND_OK
 * otherwise. The front end decides what a finding means in its host: the
 * tool refuses an empty password unless told to allow it, libraries and
 * databases warn in their host's manner. */
#define COMPATCRYPT_BIND_PASSWORD_STRING 1u
COMPATCRYPT_BIND_API int compatcrypt_bind_password_check(const void *password, size_t size, unsigned flags);

/* Zeroes `size` bytes in a way the compiler cannot drop. */
COMPATCRYPT_BIND_API void compatcrypt_bind_wipe(void *memory, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* COMPATCRYPT_BIND_H */
