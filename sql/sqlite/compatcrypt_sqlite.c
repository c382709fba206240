/*
 * compatcrypt for SQLite: a loadable extension (".load" in the sqlite3
 * shell, load_extension elsewhere) with the functions of the PostgreSQL
 * extension under the same names and with the same messages.
 *
 * Arguments are taken as BLOBs (a TEXT argument as its UTF-8 bytes); a NULL
 * argument gives NULL. compatcrypt_file_digest reads files: it is never
 * innocuous, is direct-only (not callable from triggers, views or schema
 * whatever trusted_schema says), and refuses to work on a connection in
 * defensive mode (SQLITE_DBCONFIG_DEFENSIVE), which is how an application
 * says that its SQL may come from elsewhere.
 */
#include <limits.h>
#include <sqlite3ext.h>
#include <stdio.h>
#include <string.h>
SQLITE_EXTENSION_INIT1

#include "compatcrypt.h"
#include "digest_chunks.h"

static void Wipe(void *p, size_t n) {
  volatile unsigned char *v = p;
  while (n--) *v++ = 0;
}

static void Fail(sqlite3_context *ctx, const char *fmt, const char *fn, long long value) {
  char message[200];
  snprintf(message, sizeof message, fmt, fn, value);
  sqlite3_result_error(ctx, message, -1);
}

static void FailText(sqlite3_context *ctx, const char *fn, const char *what) {
  char message[200];
  snprintf(message, sizeof message, "%s: %s", fn, what);
  sqlite3_result_error(ctx, message, -1);
}

static void FailResult(sqlite3_context *ctx, const char *fn, int32_t rc) {
  Fail(ctx, "%s: the library returned %lld", fn, rc);
}

/* True when every argument is non-NULL; otherwise the result is NULL. */
static int AllPresent(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  for (int i = 0; i < argc; i++) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return 0;
    }
  }
  return 1;
}

/* The bytes of a BLOB or TEXT argument; numbers are refused rather than
 * taken as their decimal text. */
static const unsigned char *BytesOf(sqlite3_context *ctx, sqlite3_value *v, const char *fn, const char *arg,
                                    int *len) {
  int type = sqlite3_value_type(v);
  if (type != SQLITE_BLOB && type != SQLITE_TEXT) {
    char what[100];
    snprintf(what, sizeof what, "%s must be a blob or text", arg);
    FailText(ctx, fn, what);
    return NULL;
  }
  const unsigned char *bytes = type == SQLITE_BLOB ? sqlite3_value_blob(v) : sqlite3_value_text(v);
  *len = sqlite3_value_bytes(v);
  if (bytes == NULL && *len == 0) bytes = (const unsigned char *)"";
  if (bytes == NULL) sqlite3_result_error_nomem(ctx);
  return bytes;
}

/* MessageDigest and KeyGenerating: one blob in, a result of a fixed size
   out, wiped once SQLite has its copy (a key is a secret). */
typedef int32_t (*FixedSizeCall)(const unsigned char *, int32_t, unsigned char *, int32_t *, uint32_t);

static void FixedSizeResult(sqlite3_context *ctx, int argc, sqlite3_value **argv, FixedSizeCall call,
                            const char *fn, const char *argName) {
  if (!AllPresent(ctx, argc, argv)) return;
  int len;
  const unsigned char *in = BytesOf(ctx, argv[0], fn, argName, &len);
  if (in == NULL) return;
  unsigned char out[COMPATCRYPT_DIGEST_BYTES]; /* the larger of the two */
  int32_t outLen;
  int32_t rc = call(in, len, out, &outLen, COMPATCRYPT_MODE);
  if (rc != COMPATCRYPT_OK) return FailResult(ctx, fn, rc);
  sqlite3_result_blob(ctx, out, outLen, SQLITE_TRANSIENT);
  Wipe(out, sizeof out);
}

static void Digest(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  FixedSizeResult(ctx, argc, argv, MessageDigest, "compatcrypt_digest", "data");
}

static void Key(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  FixedSizeResult(ctx, argc, argv, KeyGenerating, "compatcrypt_key", "password");
}

typedef int32_t (*KeyCoder)(const unsigned char *, int32_t, const unsigned char *, int32_t, unsigned char *,
                            uint32_t);

static void CodeWithKey(sqlite3_context *ctx, int argc, sqlite3_value **argv, KeyCoder code, const char *fn) {
  if (!AllPresent(ctx, argc, argv)) return;
  int len, keyLen;
  const unsigned char *data = BytesOf(ctx, argv[0], fn, "data", &len);
  if (data == NULL) return;
  const unsigned char *key = BytesOf(ctx, argv[1], fn, "key", &keyLen);
  if (key == NULL) return;
  if (keyLen != COMPATCRYPT_KEY_BYTES) return Fail(ctx, "%s: key must be 16 bytes, not %lld", fn, keyLen);
  unsigned char *out = sqlite3_malloc64(len > 0 ? (sqlite3_uint64)len : 1);
  if (out == NULL) return sqlite3_result_error_nomem(ctx);
  int32_t rc = code(data, len, key, COMPATCRYPT_KEY_BYTES, out, COMPATCRYPT_MODE);
  if (rc != COMPATCRYPT_OK) {
    sqlite3_free(out);
    return FailResult(ctx, fn, rc);
  }
  sqlite3_result_blob(ctx, out, len, sqlite3_free);
}

static void Encode(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  CodeWithKey(ctx, argc, argv, EncodeFunction, "compatcrypt_encode");
}
static void Decode(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  CodeWithKey(ctx, argc, argv, DecodeFunction, "compatcrypt_decode");
}

typedef int32_t (*PasswordCoder)(const unsigned char *, const unsigned char *, int32_t, unsigned char *,
                                 uint32_t);

static void CodeWithPassword(sqlite3_context *ctx, int argc, sqlite3_value **argv, PasswordCoder code,
                             const char *fn) {
  if (!AllPresent(ctx, argc, argv)) return;
  int len, passwordLen;
  const unsigned char *data = BytesOf(ctx, argv[0], fn, "data", &len);
  if (data == NULL) return;
  const unsigned char *password = BytesOf(ctx, argv[1], fn, "password", &passwordLen);
  if (password == NULL) return;
  if (memchr(password, '\0', (size_t)passwordLen) != NULL)
    return FailText(ctx, fn, "password contains a zero byte");
  /* The password NUL-terminated, as EncodeKey takes it. */
  unsigned char *buffer =
      sqlite3_malloc64((sqlite3_uint64)passwordLen + 1 + (len > 0 ? (sqlite3_uint64)len : 1));
  if (buffer == NULL) return sqlite3_result_error_nomem(ctx);
  unsigned char *pw = buffer, *out = buffer + passwordLen + 1;
  memcpy(pw, password, (size_t)passwordLen);
  pw[passwordLen] = '\0';
  int32_t rc = code(pw, data, len, out, COMPATCRYPT_MODE);
  Wipe(pw, (size_t)passwordLen);
  if (rc != COMPATCRYPT_OK) {
    sqlite3_free(buffer);
    return FailResult(ctx, fn, rc);
  }
  sqlite3_result_blob(ctx, out, len, SQLITE_TRANSIENT);
  Wipe(out, (size_t)len);
  sqlite3_free(buffer);
}

static void EncodePassword(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  CodeWithPassword(ctx, argc, argv, EncodeKey, "compatcrypt_encode_password");
}
static void DecodePassword(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  CodeWithPassword(ctx, argc, argv, DecodeKey, "compatcrypt_decode_password");
}

static void FileDigestSql(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_file_digest";
  if (!AllPresent(ctx, argc, argv)) return;
  int defensive = 0;
  sqlite3_db_config(sqlite3_context_db_handle(ctx), SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
  if (defensive) return FailText(ctx, fn, "reading files is off on a connection in defensive mode");
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) return FailText(ctx, fn, "path must be text");
  if (sqlite3_value_type(argv[1]) != SQLITE_INTEGER) return FailText(ctx, fn, "offset must be an integer");
  sqlite3_int64 offset = sqlite3_value_int64(argv[1]);
  if (offset < 0 || offset > INT32_MAX)
    return Fail(ctx, "%s: offset must be between 0 and 2147483647, not %lld", fn, offset);
  const unsigned char *path = sqlite3_value_text(argv[0]);
  if (path == NULL) return sqlite3_result_error_nomem(ctx);
  if ((int)strlen((const char *)path) != sqlite3_value_bytes(argv[0]))
    return FailText(ctx, fn, "path contains a zero byte");
  unsigned char out[COMPATCRYPT_DIGEST_BYTES];
  int32_t outLen;
  int32_t rc = FileDigest(path, (int32_t)offset, out, &outLen, COMPATCRYPT_MODE);
  if (rc == COMPATCRYPT_FAILED) {
    char message[300];
    snprintf(message, sizeof message, "%s: could not read file \"%.200s\" from offset %lld", fn, path,
             offset);
    return sqlite3_result_error(ctx, message, -1);
  }
  if (rc != COMPATCRYPT_OK) return FailResult(ctx, fn, rc);
  sqlite3_result_blob(ctx, out, sizeof out, SQLITE_TRANSIENT);
}

/* compatcrypt_digest_agg: the digest of the chunks concatenated in the
 * order the rows arrive (an ordered subquery); NULL chunks are skipped and
 * no chunk at all gives NULL. */
typedef struct {
  int started;
  int failed;
  DigestChunks chunks;
} AggState;

static void AggStep(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  (void)argc;
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
  AggState *state = sqlite3_aggregate_context(ctx, sizeof *state);
  if (state == NULL) return sqlite3_result_error_nomem(ctx);
  if (state->failed) return;
  int len;
  const unsigned char *chunk = BytesOf(ctx, argv[0], "compatcrypt_digest_agg", "chunk", &len);
  if (chunk == NULL) {
    state->failed = 1;
    return;
  }
  if (!state->started) {
    DigestChunksInit(&state->chunks);
    state->started = 1;
  }
  int32_t rc = DigestChunksUpdate(&state->chunks, chunk, (size_t)len);
  if (rc != COMPATCRYPT_OK) {
    state->failed = 1;
    FailResult(ctx, "compatcrypt_digest_agg", rc);
  }
}

static void AggFinal(sqlite3_context *ctx) {
  AggState *state = sqlite3_aggregate_context(ctx, 0);
  if (state == NULL || !state->started) return sqlite3_result_null(ctx);
  if (state->failed) return; /* the step has set the error */
  unsigned char out[COMPATCRYPT_DIGEST_BYTES];
  int32_t rc = DigestChunksFinish(&state->chunks, out);
  if (rc != COMPATCRYPT_OK) return FailResult(ctx, "compatcrypt_digest_agg", rc);
  sqlite3_result_blob(ctx, out, sizeof out, SQLITE_TRANSIENT);
}

#ifdef _WIN32
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    int sqlite3_compatcrypt_init(sqlite3 *db, char **errorMessage, const sqlite3_api_routines *api) {
  (void)errorMessage;
  SQLITE_EXTENSION_INIT2(api);
  static const struct {
    const char *name;
    int argc;
    void (*call)(sqlite3_context *, int, sqlite3_value **);
  } pure[] = {
      {"compatcrypt_digest", 1, Digest},
      {"compatcrypt_key", 1, Key},
      {"compatcrypt_encode", 2, Encode},
      {"compatcrypt_decode", 2, Decode},
      {"compatcrypt_encode_password", 2, EncodePassword},
      {"compatcrypt_decode_password", 2, DecodePassword},
  };
  const int pureFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  int rc = SQLITE_OK;
  for (size_t i = 0; rc == SQLITE_OK && i < sizeof pure / sizeof pure[0]; i++)
    rc = sqlite3_create_function(db, pure[i].name, pure[i].argc, pureFlags, NULL, pure[i].call, NULL, NULL);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "compatcrypt_digest_agg", 1, pureFlags, NULL, NULL, AggStep, AggFinal);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, "compatcrypt_file_digest", 2, SQLITE_UTF8 | SQLITE_DIRECTONLY, NULL,
                                 FileDigestSql, NULL, NULL);
  return rc;
}
