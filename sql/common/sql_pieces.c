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

int SqlCodePieces(compatcrypt_bind_coder *coder, const void *in, size_t size, void *out, SqlGoOn goOn,
                  void *host) {
  const size_t piece = compatcrypt_bind_piece_bytes();
  const uint8_t *from = in;
  uint8_t *to = out;
  size_t room = size, written = 0;
  for (;;) {
    size_t n = size < piece ? size : piece;
    int rc = compatcrypt_bind_coder_update(coder, from, n, to, room, &written);
    if (rc != COMPATCRYPT_BIND_OK) return rc;
    from += n;
    size -= n;
    to += written;
    room -= written;
    if (size == 0) break;
    if (!goOn(host)) return SQL_STOPPED;
  }
  return compatcrypt_bind_coder_finish(coder, to, room, &written);
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
