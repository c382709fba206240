#include "digest_chunks.h"

#include <string.h>

#include "compatcrypt.h"

/*
 * Only MessageDigest is at hand, not the block transform T. For one 64-byte
 * block X, MessageDigest(X) = T(X) + T(L64), where L64 is the closing block
 * of a 64-byte message (zeros and the length word 64). The empty message's
 * only block is the all-zero block, so
 *   T(L64) = MessageDigest(64 zero bytes) - MessageDigest(no bytes),
 *   T(X)   = MessageDigest(X) - T(L64)                for any 64-byte X.
 * A run of whole blocks P costs one call over P and one over its closing
 * block: sum of T over P = MessageDigest(P) - T(closing block of |P|).
 * All arithmetic is word-wise modulo 2^32, as the digest's own sums.
 */

typedef struct {
  uint32_t w[5];
} Words;

/* Held bytes are data: wiped through a volatile pointer, which the compiler
 * may not drop as a dead store. */
static void Wipe(void *p, size_t n) {
  volatile unsigned char *v = p;
  while (n--) *v++ = 0;
}

static void ReadWords(const unsigned char d[20], Words *out) {
  for (int i = 0; i < 5; i++) {
    out->w[i] = (uint32_t)d[4 * i] | (uint32_t)d[4 * i + 1] << 8 | (uint32_t)d[4 * i + 2] << 16 |
                (uint32_t)d[4 * i + 3] << 24;
  }
}

static int32_t DigestWords(const unsigned char *data, uint32_t len, Words *out) {
  unsigned char d[20];
  int32_t outLen = 0;
  int32_t rc = MessageDigest(data, (int32_t)len, d, &outLen, COMPATCRYPT_MODE);
  if (rc == COMPATCRYPT_OK) ReadWords(d, out);
  return rc;
}

/* T(L64), the transform of a 64-byte message's closing block. */
static int32_t ClosingOf64(Words *out) {
  static const unsigned char zeros[64];
  Words all, none;
  int32_t rc = DigestWords(zeros, 64, &all);
  if (rc == COMPATCRYPT_OK) rc = DigestWords(zeros, 0, &none);
  if (rc != COMPATCRYPT_OK) return rc;
  for (int i = 0; i < 5; i++) out->w[i] = all.w[i] - none.w[i];
  return rc;
}

/* T(block) for one 64-byte block. */
static int32_t Transform(const unsigned char block[64], Words *out) {
  Words whole, closing;
  int32_t rc = DigestWords(block, 64, &whole);
  if (rc == COMPATCRYPT_OK) rc = ClosingOf64(&closing);
  if (rc != COMPATCRYPT_OK) return rc;
  for (int i = 0; i < 5; i++) out->w[i] = whole.w[i] - closing.w[i];
  return rc;
}

/* The closing block that carries `count` in its last four bytes, after
 * `tailLen` (0 to 56) bytes of `tail` and zeros. */
static void ClosingBlock(const unsigned char *tail, uint32_t tailLen, uint32_t count,
                         unsigned char block[64]) {
  memset(block, 0, 64);
  if (tailLen > 0) memcpy(block, tail, tailLen);
  block[60] = (unsigned char)(count >> 24);
  block[61] = (unsigned char)(count >> 16);
  block[62] = (unsigned char)(count >> 8);
  block[63] = (unsigned char)count;
}

static void AddWords(uint32_t sums[5], const Words *w) {
  for (int i = 0; i < 5; i++) sums[i] += w->w[i];
}

void DigestChunksInit(DigestChunks *state) { memset(state, 0, sizeof *state); }

/* Sum of T over `len` bytes of whole blocks (len a multiple of 64, less
 * than 2^31 so MessageDigest takes it). */
static int32_t WholeBlocks(const unsigned char *data, uint32_t len, Words *out) {
  unsigned char block[64];
  Words all, closing;
  ClosingBlock(NULL, 0, len, block);
  int32_t rc = DigestWords(data, len, &all);
  if (rc == COMPATCRYPT_OK) rc = Transform(block, &closing);
  if (rc != COMPATCRYPT_OK) return rc;
  for (int i = 0; i < 5; i++) out->w[i] = all.w[i] - closing.w[i];
  return rc;
}

int32_t DigestChunksUpdate(DigestChunks *state, const unsigned char *data, size_t len) {
  DigestChunks next = *state;
  Words w;
  int32_t rc = COMPATCRYPT_OK;
  next.count += (uint32_t)len;
  if (next.pendingLen > 0) {
    size_t take = 64 - next.pendingLen;
    if (take > len) take = len;
    memcpy(next.pending + next.pendingLen, data, take);
    next.pendingLen += (uint32_t)take;
    data += take;
    len -= take;
    if (next.pendingLen == 64) {
      rc = Transform(next.pending, &w);
      if (rc != COMPATCRYPT_OK) goto done;
      AddWords(next.sums, &w);
      next.pendingLen = 0;
    }
  }
  /* Whole blocks straight from the caller's bytes, in runs MessageDigest's
   * 32-bit length takes. */
  while (len >= 64) {
    size_t run = len - len % 64;
    if (run > 0x40000000u) run = 0x40000000u;
    rc = WholeBlocks(data, (uint32_t)run, &w);
    if (rc != COMPATCRYPT_OK) goto done;
    AddWords(next.sums, &w);
    data += run;
    len -= run;
  }
  if (len > 0) {
    memcpy(next.pending + next.pendingLen, data, len);
    next.pendingLen += (uint32_t)len;
  }
  *state = next;
done:
  Wipe(&next, sizeof next);
  return rc;
}

int32_t DigestChunksFinish(DigestChunks *state, unsigned char out[20]) {
  unsigned char block[64];
  Words w;
  int32_t rc;
  if (state->pendingLen > 56) {
    /* No room for the length word: the tail and zeros, then a block of
     * zeros and the length word. */
    memset(block, 0, 64);
    memcpy(block, state->pending, state->pendingLen);
    rc = Transform(block, &w);
    if (rc != COMPATCRYPT_OK) goto done;
    AddWords(state->sums, &w);
    ClosingBlock(NULL, 0, state->count, block);
  } else {
    ClosingBlock(state->pending, state->pendingLen, state->count, block);
  }
  rc = Transform(block, &w);
  if (rc != COMPATCRYPT_OK) goto done;
  AddWords(state->sums, &w);
  for (int i = 0; i < 5; i++) {
    out[4 * i] = (unsigned char)state->sums[i];
    out[4 * i + 1] = (unsigned char)(state->sums[i] >> 8);
    out[4 * i + 2] = (unsigned char)(state->sums[i] >> 16);
    out[4 * i + 3] = (unsigned char)(state->sums[i] >> 24);
  }
done:
  Wipe(block, sizeof block);
  Wipe(state, sizeof *state);
  return rc;
}
