/*
 * The long jobs of the SQL functions in pieces of
 * compatcrypt_bind_piece_bytes(), with the host asked between two pieces
 * whether to go on: PostgreSQL checks for interrupts (and may leave by its
 * own error), SQLite asks whether the statement was interrupted. A value of
 * one piece or less is one call, so small values pay nothing for it.
 */
#ifndef COMPATCRYPT_SQL_PIECES_H
#define COMPATCRYPT_SQL_PIECES_H

#include <stddef.h>

#include "compatcrypt_bind.h"

/* 1 to go on, 0 to stop. */
typedef int (*SqlGoOn)(void *host);

/* What a loop returns when the host said stop; the surface's own results
 * are COMPATCRYPT_BIND_OK or negative, never 0. */
#define SQL_STOPPED 0

/* Adds `size` bytes of `data` to the digest. */
int SqlDigestPieces(compatcrypt_bind_digest *digest, const void *data, size_t size, SqlGoOn goOn, void *host);

/* Codes `size` bytes of `in` into `out` (room for `size` bytes) and
 * finishes the message, so the coder is ready for the next one. `*written`
 * (if not null) is the count of bytes written into `out`, also when the
 * host stopped the work: the bytes to wipe. */
int SqlCodePieces(compatcrypt_bind_coder *coder, const void *in, size_t size, void *out, size_t *written,
                  SqlGoOn goOn, void *host);

/* Reads an opened file to its end; `*os_error` is the errno of a failed
 * read. */
int SqlFilePieces(compatcrypt_bind_file *file, int *os_error, SqlGoOn goOn, void *host);

#endif
