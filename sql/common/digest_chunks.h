/*
 * The digest of a value that arrives in pieces (a database aggregate over
 * the chunks of a large object), built on the library's MessageDigest.
 *
 * The digest sums the transforms of its 64-byte blocks instead of chaining
 * them, so the state is five sums, the bytes of an unfinished block (at
 * most 63) and the 32-bit byte count, and any cut of the data gives the
 * digest of the whole. The state is plain data: it may be copied.
 */
#ifndef COMPATCRYPT_DIGEST_CHUNKS_H
#define COMPATCRYPT_DIGEST_CHUNKS_H

#include <stddef.h>
#include <stdint.h>

typedef struct {
  uint32_t sums[5];
  uint32_t count; /* modulo 2^32, as the length word holds it */
  uint32_t pendingLen;
  unsigned char pending[64];
} DigestChunks;

void DigestChunksInit(DigestChunks *state);

/* Takes `len` more bytes. Returns the library's result code (1 on success;
 * otherwise the state is as before the call). */
int32_t DigestChunksUpdate(DigestChunks *state, const unsigned char *data, size_t len);

/* Writes the 20-byte digest of everything given since DigestChunksInit and
 * wipes the state. Returns the library's result code. */
int32_t DigestChunksFinish(DigestChunks *state, unsigned char out[20]);

#endif
