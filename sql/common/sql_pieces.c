#include "sql_pieces.h"

#include <stdint.h>

int SqlDigestPieces(compatcrypt_bind_digest *digest, const void *data, size_t size, SqlGoOn goOn,
                    void *host) {
  const size_t piece = compatcrypt_bind_piece_bytes();
  const uint8_t *at = data;
  for (;;) {
    size_t n = size < piece ? size : piece;
    int rc = compatcrypt_bind_digest_update(digest, at, n);
    if (rc != COMPATCRYPT_BIND_OK) return rc;
    at += n;
    size -= n;
    if (size == 0) return COMPATCRYPT_BIND_OK;
    if (!goOn(host)) return SQL_STOPPED;
  }
}

int SqlCodePieces(compatcrypt_bind_coder *coder, const void *in, size_t size, void *out, size_t *written,
                  SqlGoOn goOn, void *host) {
  const size_t piece = compatcrypt_bind_piece_bytes();
  if (size <= piece) {
    /* A value of one piece is one message, coded in one pass as a batch of
     * one record. Update and finish would take two: a stream holds its
     * last block back for the tail rule until it knows the message ends,
     * and decryption, whose blocks run side by side, pays a whole pass for
     * that one block. */
    const size_t offsets[2] = {0, size};
    int rc = compatcrypt_bind_coder_batch(coder, in, offsets, 1, out, size);
    if (written != NULL) *written = rc == COMPATCRYPT_BIND_OK ? size : 0;
    return rc;
  }
  const uint8_t *from = in;
  uint8_t *to = out;
  size_t room = size, count = 0;
  int rc;
  for (;;) {
    size_t n = size < piece ? size : piece;
    rc = compatcrypt_bind_coder_update(coder, from, n, to, room, &count);
    if (rc != COMPATCRYPT_BIND_OK) break;
    from += n;
    size -= n;
    to += count;
    room -= count;
    count = 0;
    if (size == 0) {
      rc = compatcrypt_bind_coder_finish(coder, to, room, &count);
      break;
    }
    if (!goOn(host)) {
      rc = SQL_STOPPED;
      break;
    }
  }
  if (written != NULL) *written = (size_t)(to - (uint8_t *)out) + count;
  return rc;
}

int SqlFilePieces(compatcrypt_bind_file *file, int *os_error, SqlGoOn goOn, void *host) {
  const size_t piece = compatcrypt_bind_piece_bytes();
  for (;;) {
    int done = 0;
    int rc = compatcrypt_bind_file_read(file, piece, &done, os_error);
    if (rc != COMPATCRYPT_BIND_OK) return rc;
    if (done) return COMPATCRYPT_BIND_OK;
    if (!goOn(host)) return SQL_STOPPED;
  }
}
