/*
 * compatcrypt for SQLite: a loadable extension (".load" in the sqlite3
 * shell, load_extension elsewhere) with the functions of the PostgreSQL
 * extension under the same names and with the same messages (sql_rules.h),
 * on the library's binding surface.
 *
 * Arguments are taken as BLOBs (a TEXT argument as its UTF-8 bytes); a NULL
 * argument gives NULL. compatcrypt_file_digest reads files: it is never
 * innocuous, is direct-only (not callable from triggers, views or schema
 * whatever trusted_schema says), and refuses to work on a connection in
 * defensive mode (SQLITE_DBCONFIG_DEFENSIVE), which is how an application
 * says that its SQL may come from elsewhere.
 *
 * Long work goes in pieces. Between two pieces the extension asks whether
 * sqlite3_interrupt() was called: through sqlite3_is_interrupted() where
 * the library that loaded it has that function (3.41 and later), and
 * elsewhere by preparing and running a statement of its own, which SQLite
 * answers with SQLITE_INTERRUPT once the connection is interrupted. The
 * file is opened without waiting: a FIFO or socket is refused at once.
 *
 * A key a zero byte cuts, or an empty password, is reported to SQLite's
 * error log (sqlite3_log, SQLITE_WARNING: the application's
 * SQLITE_CONFIG_LOG callback sees it) once per key and statement, or
 * refused, as the connection's compatcrypt_weak_key('warning' | 'error' |
 * 'ignore') says.
 */
#include <limits.h>
#include <sqlite3ext.h>
#include <stddef.h>
#include <string.h>
SQLITE_EXTENSION_INIT1

#include "compatcrypt_bind.h"
#include "sql_pieces.h"
#include "sql_rules.h"

/* ---- The connection's settings ------------------------------------------ */

typedef enum { WEAK_KEY_WARNING, WEAK_KEY_ERROR, WEAK_KEY_IGNORE } WeakKeyAction;
static const char *const kWeakKeyActions[] = {"warning", "error", "ignore"};

/* Shared by every function registered on one connection; freed when the
 * last of them goes. */
typedef struct {
  int references;
  WeakKeyAction weakKey;
  int (*isInterrupted)(sqlite3 *); /* NULL where the library has none */
} Connection;

static void Release(void *p) {
  Connection *connection = p;
  if (--connection->references == 0) sqlite3_free(connection);
}

/* The routines of a library of 3.41 or later, built from headers that
 * predate it: is_interrupted comes right after the last routine of 3.40. */
#if SQLITE_VERSION_NUMBER < 3041000
struct RoutinesFrom341 {
  sqlite3_api_routines upTo340;
  int (*is_interrupted)(sqlite3 *);
};
#endif

/* sqlite3_is_interrupted of the library that loaded the extension, taken
 * from the routines it handed over (never looked up by name, which could
 * find another copy of SQLite in the process), and only where its version
 * says the routine is there. */
static int (*IsInterruptedOf(const sqlite3_api_routines *api))(sqlite3 *) {
  if (api->libversion_number() < 3041000) return NULL;
#if SQLITE_VERSION_NUMBER < 3041000
  return ((const struct RoutinesFrom341 *)api)->is_interrupted;
#else
  return api->is_interrupted;
#endif
}

typedef struct {
  Connection *connection;
  sqlite3 *db;
} Host;

/* Whether the connection was interrupted. A library without
 * sqlite3_is_interrupted still checks the flag while it prepares a
 * statement (3.40 checks it at each token) and runs one (at each jump), and
 * it keeps the flag while a statement of the connection is running, as the
 * one calling this function is. Asked only between pieces, so the few
 * microseconds of the probe are lost in a piece's work. */
static int GoOn(void *p) {
  const Host *host = p;
  if (host->connection->isInterrupted != NULL) return !host->connection->isInterrupted(host->db);
  sqlite3_stmt *probe = NULL;
  int rc = sqlite3_prepare_v2(host->db, "SELECT 1", -1, &probe, NULL);
  if (rc == SQLITE_OK) rc = sqlite3_step(probe);
  sqlite3_finalize(probe);
  return rc != SQLITE_INTERRUPT;
}

static Host HostOf(sqlite3_context *ctx) {
  Host host = {sqlite3_user_data(ctx), sqlite3_context_db_handle(ctx)};
  return host;
}

/* ---- Errors -------------------------------------------------------------- */

static void Fail(sqlite3_context *ctx, const SqlFailure *failure) {
  if (failure->kind == SQL_NO_MEMORY) return sqlite3_result_error_nomem(ctx);
  sqlite3_result_error(ctx, failure->text, -1);
}

/* A result of the surface, or of a loop the host stopped. */
static void FailResult(sqlite3_context *ctx, const char *fn, int rc) {
  if (rc == SQL_STOPPED) return sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
  SqlFailure failure;
  SqlResultFailure(fn, rc, &failure);
  Fail(ctx, &failure);
}

/* A weak key or password, as the connection's setting says: 1 when the
 * call may go on. */
static int ReportWeak(sqlite3_context *ctx, const SqlFailure *failure) {
  const Connection *connection = sqlite3_user_data(ctx);
  if (connection->weakKey == WEAK_KEY_ERROR) {
    Fail(ctx, failure);
    return 0;
  }
  if (connection->weakKey == WEAK_KEY_WARNING) sqlite3_log(SQLITE_WARNING, "%s", failure->text);
  return 1;
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
                                    size_t *len) {
  int type = sqlite3_value_type(v);
  if (type != SQLITE_BLOB && type != SQLITE_TEXT) {
    SqlFailure failure;
    SqlTypeFailure(fn, arg, "a blob or text", &failure);
    Fail(ctx, &failure);
    return NULL;
  }
  const unsigned char *bytes = type == SQLITE_BLOB ? sqlite3_value_blob(v) : sqlite3_value_text(v);
  *len = (size_t)sqlite3_value_bytes(v);
  if (bytes == NULL && *len == 0) bytes = (const unsigned char *)"";
  if (bytes == NULL) sqlite3_result_error_nomem(ctx);
  return bytes;
}

/* ---- Digest and keys ------------------------------------------------------ */

static void Digest(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_digest";
  if (!AllPresent(ctx, argc, argv)) return;
  size_t len;
  const unsigned char *data = BytesOf(ctx, argv[0], fn, "data", &len);
  if (data == NULL) return;
  size_t room = compatcrypt_bind_digest_size();
  void *memory = sqlite3_malloc64(room);
  if (memory == NULL) return sqlite3_result_error_nomem(ctx);
  compatcrypt_bind_digest *digest;
  uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES];
  Host host = HostOf(ctx);
  int rc = compatcrypt_bind_digest_init(memory, room, &digest);
  if (rc == COMPATCRYPT_BIND_OK) {
    rc = SqlDigestPieces(digest, data, len, GoOn, &host);
    if (rc == COMPATCRYPT_BIND_OK) rc = compatcrypt_bind_digest_finish(digest, out);
    compatcrypt_bind_digest_destroy(digest);
  }
  sqlite3_free(memory);
  if (rc != COMPATCRYPT_BIND_OK) return FailResult(ctx, fn, rc);
  sqlite3_result_blob(ctx, out, sizeof out, SQLITE_TRANSIENT);
}

/* The key of every byte of the password, zero bytes included; wiped once
 * SQLite has its copy. */
static void Key(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_key";
  if (!AllPresent(ctx, argc, argv)) return;
  size_t len;
  const unsigned char *password = BytesOf(ctx, argv[0], fn, "password", &len);
  if (password == NULL) return;
  if (compatcrypt_bind_password_check(password, len, 0) == COMPATCRYPT_BIND_E_PASSWORD_EMPTY) {
    SqlFailure failure;
    SqlEmptyPassword(fn, &failure);
    if (!ReportWeak(ctx, &failure)) return;
  }
  uint8_t key[COMPATCRYPT_BIND_KEY_BYTES];
  int rc = compatcrypt_bind_key_from_password(password, len, key);
  if (rc != COMPATCRYPT_BIND_OK) return FailResult(ctx, fn, rc);
  sqlite3_result_blob(ctx, key, sizeof key, SQLITE_TRANSIENT);
  SqlWipe(key, sizeof key);
}

static void KeyBytesInEffect(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_key_bytes_in_effect";
  if (!AllPresent(ctx, argc, argv)) return;
  size_t len;
  const unsigned char *key = BytesOf(ctx, argv[0], fn, "key", &len);
  if (key == NULL) return;
  int bytes = SqlKeyBytesInEffect(key, len);
  if (bytes < 0) {
    SqlFailure failure;
    SqlKeyLengthFailure(fn, len, &failure);
    return Fail(ctx, &failure);
  }
  sqlite3_result_int(ctx, bytes);
}

/* ---- Coders ----------------------------------------------------------------- */

/* A coder and the key or password it was made for, kept as the auxiliary
 * data of that argument, so that a statement whose key is a constant or a
 * parameter makes its key schedule once. `busy` marks a coder that a stop
 * left in the middle of a value: it is not used again. */
typedef struct {
  compatcrypt_bind_coder *coder;
  int busy;
  int weak;
  SqlFailure weakness;
  size_t secretSize;
  unsigned char *secret; /* in the same allocation, after the coder */
  char memory[];
} CoderCache;

static void DropCache(void *p) {
  CoderCache *cache = p;
  compatcrypt_bind_coder_destroy(cache->coder);
  SqlWipe(cache->secret, cache->secretSize);
  sqlite3_free(cache);
}

/* A new cache for `secret` (a key, or a password when `password`), or NULL
 * with the error set. */
static CoderCache *NewCache(sqlite3_context *ctx, int direction, const unsigned char *secret, size_t size,
                            int password, const char *fn) {
  size_t room = compatcrypt_bind_coder_size();
  CoderCache *cache = sqlite3_malloc64(sizeof *cache + room + size);
  if (cache == NULL) {
    sqlite3_result_error_nomem(ctx);
    return NULL;
  }
  memset(cache, 0, sizeof *cache);
  uint8_t key[COMPATCRYPT_BIND_KEY_BYTES];
  const uint8_t *cipherKey = secret;
  size_t cipherKeySize = size;
  int rc = COMPATCRYPT_BIND_OK;
  if (password) {
    rc = compatcrypt_bind_key_from_password(secret, size, key);
    cipherKey = key;
    cipherKeySize = sizeof key;
  }
  if (rc == COMPATCRYPT_BIND_OK)
    rc = compatcrypt_bind_coder_init(cache->memory, room, direction, cipherKey, cipherKeySize, &cache->coder);
  if (rc == COMPATCRYPT_BIND_OK) {
    if (password && size == 0) {
      SqlEmptyPassword(fn, &cache->weakness);
      cache->weak = 1;
    } else {
      cache->weak = SqlCutKey(fn, cipherKey, cipherKeySize, &cache->weakness);
    }
  }
  SqlWipe(key, sizeof key);
  if (rc != COMPATCRYPT_BIND_OK) {
    sqlite3_free(cache);
    if (rc != COMPATCRYPT_BIND_E_KEY_LENGTH) {
      FailResult(ctx, fn, rc);
    } else {
      SqlFailure failure;
      SqlKeyLengthFailure(fn, size, &failure);
      Fail(ctx, &failure);
    }
    return NULL;
  }
  cache->secret = (unsigned char *)cache->memory + room;
  if (size > 0) memcpy(cache->secret, secret, size);
  cache->secretSize = size;
  return cache;
}

static void Code(sqlite3_context *ctx, sqlite3_value **argv, int direction, int password, const char *fn) {
  if (!AllPresent(ctx, 2, argv)) return;
  size_t len, secretLen;
  const unsigned char *data = BytesOf(ctx, argv[0], fn, "data", &len);
  if (data == NULL) return;
  const unsigned char *secret = BytesOf(ctx, argv[1], fn, password ? "password" : "key", &secretLen);
  if (secret == NULL) return;
  if (password) {
    SqlFailure failure;
    int empty;
    if (!SqlPasswordUsable(fn, secret, secretLen, &empty, &failure)) return Fail(ctx, &failure);
  }
  CoderCache *cache = sqlite3_get_auxdata(ctx, 1);
  int fresh = 0;
  if (cache == NULL || cache->busy || cache->secretSize != secretLen ||
      !SqlSameSecret(cache->secret, secret, secretLen)) {
    cache = NewCache(ctx, direction, secret, secretLen, password, fn);
    if (cache == NULL) return;
    fresh = 1;
    if (cache->weak && !ReportWeak(ctx, &cache->weakness)) return DropCache(cache);
  } else if (cache->weak && ((const Connection *)sqlite3_user_data(ctx))->weakKey == WEAK_KEY_ERROR) {
    return Fail(ctx, &cache->weakness);
  }
  unsigned char *out = sqlite3_malloc64(len > 0 ? (sqlite3_uint64)len : 1);
  if (out == NULL) {
    if (fresh) DropCache(cache);
    return sqlite3_result_error_nomem(ctx);
  }
  Host host = HostOf(ctx);
  cache->busy = 1;
  size_t written = 0;
  int rc = SqlCodePieces(cache->coder, data, len, out, &written, GoOn, &host);
  cache->busy = rc != COMPATCRYPT_BIND_OK;
  if (rc != COMPATCRYPT_BIND_OK) {
    SqlWipe(out, written); /* what was coded; the rest was never touched */
    sqlite3_free(out);
    if (fresh) DropCache(cache);
    return FailResult(ctx, fn, rc);
  }
  sqlite3_result_blob64(ctx, out, len, sqlite3_free);
  /* Last, as SQLite may drop the data at once (an argument that is not a
   * constant). */
  if (fresh) sqlite3_set_auxdata(ctx, 1, cache, DropCache);
}

static void Encode(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  (void)argc;
  Code(ctx, argv, COMPATCRYPT_BIND_ENCODE, 0, "compatcrypt_encode");
}
static void Decode(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  (void)argc;
  Code(ctx, argv, COMPATCRYPT_BIND_DECODE, 0, "compatcrypt_decode");
}
static void EncodePassword(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  (void)argc;
  Code(ctx, argv, COMPATCRYPT_BIND_ENCODE, 1, "compatcrypt_encode_password");
}
static void DecodePassword(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  (void)argc;
  Code(ctx, argv, COMPATCRYPT_BIND_DECODE, 1, "compatcrypt_decode_password");
}

/* ---- File digest ---------------------------------------------------------- */

static void FileDigestSql(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_file_digest";
  if (!AllPresent(ctx, argc, argv)) return;
  SqlFailure failure;
  int defensive = 0;
  sqlite3_db_config(sqlite3_context_db_handle(ctx), SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
  if (defensive) {
    SqlDefensiveFailure(fn, &failure);
    return Fail(ctx, &failure);
  }
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
    SqlTypeFailure(fn, "path", "text", &failure);
    return Fail(ctx, &failure);
  }
  if (sqlite3_value_type(argv[1]) != SQLITE_INTEGER) {
    SqlTypeFailure(fn, "offset", "an integer", &failure);
    return Fail(ctx, &failure);
  }
  sqlite3_int64 offset = sqlite3_value_int64(argv[1]);
  if (!SqlOffsetInRange(fn, offset, &failure)) return Fail(ctx, &failure);
  const char *path = (const char *)sqlite3_value_text(argv[0]);
  if (path == NULL) return sqlite3_result_error_nomem(ctx);
  if (!SqlPathUsable(fn, path, (size_t)sqlite3_value_bytes(argv[0]), &failure)) return Fail(ctx, &failure);
  size_t room = compatcrypt_bind_file_size();
  void *memory = sqlite3_malloc64(room);
  if (memory == NULL) return sqlite3_result_error_nomem(ctx);
  compatcrypt_bind_file *file;
  uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES];
  int osError = 0;
  Host host = HostOf(ctx);
  int rc = compatcrypt_bind_file_init(memory, room, &file);
  if (rc == COMPATCRYPT_BIND_OK) {
    rc = compatcrypt_bind_file_open(file, path, offset, &osError);
    if (rc == COMPATCRYPT_BIND_OK) rc = SqlFilePieces(file, &osError, GoOn, &host);
    if (rc == COMPATCRYPT_BIND_OK) rc = compatcrypt_bind_file_finish(file, out);
    compatcrypt_bind_file_destroy(file);
  }
  sqlite3_free(memory);
  if (rc == COMPATCRYPT_BIND_E_FILE) {
    SqlFileFailure(fn, path, offset, osError, &failure);
    return Fail(ctx, &failure);
  }
  if (rc != COMPATCRYPT_BIND_OK) return FailResult(ctx, fn, rc);
  sqlite3_result_blob(ctx, out, sizeof out, SQLITE_TRANSIENT);
}

/* ---- compatcrypt_digest_agg ------------------------------------------------- */

/* The digest of the chunks concatenated in the order the rows arrive (an
 * ordered subquery); NULL chunks are skipped and no chunk at all gives
 * NULL. The state is the library's digest stream in SQLite's aggregate
 * context; the final function destroys it (SQLite calls it on every way
 * out, a reset statement included). */
typedef struct {
  int started;
  int failed;
  compatcrypt_bind_digest *digest;
  char memory[];
} AggState;

static void AggStep(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_digest_agg";
  (void)argc;
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
  size_t room = compatcrypt_bind_digest_size();
  AggState *state = sqlite3_aggregate_context(ctx, (int)(sizeof *state + room));
  if (state == NULL) return sqlite3_result_error_nomem(ctx);
  if (state->failed) return;
  size_t len;
  const unsigned char *chunk = BytesOf(ctx, argv[0], fn, "chunk", &len);
  if (chunk == NULL) {
    state->failed = 1;
    return;
  }
  int rc = COMPATCRYPT_BIND_OK;
  if (!state->started) {
    rc = compatcrypt_bind_digest_init(state->memory, room, &state->digest);
    state->started = rc == COMPATCRYPT_BIND_OK;
  }
  Host host = HostOf(ctx);
  if (rc == COMPATCRYPT_BIND_OK) rc = SqlDigestPieces(state->digest, chunk, len, GoOn, &host);
  if (rc != COMPATCRYPT_BIND_OK) {
    state->failed = 1;
    FailResult(ctx, fn, rc);
  }
}

static void AggFinal(sqlite3_context *ctx) {
  AggState *state = sqlite3_aggregate_context(ctx, 0);
  if (state == NULL || !state->started) return sqlite3_result_null(ctx);
  uint8_t out[COMPATCRYPT_BIND_DIGEST_BYTES];
  int rc = state->failed ? COMPATCRYPT_BIND_OK : compatcrypt_bind_digest_value(state->digest, out);
  compatcrypt_bind_digest_destroy(state->digest);
  if (state->failed) return; /* the step has set the error */
  if (rc != COMPATCRYPT_BIND_OK) return FailResult(ctx, "compatcrypt_digest_agg", rc);
  sqlite3_result_blob(ctx, out, sizeof out, SQLITE_TRANSIENT);
}

/* ---- compatcrypt_weak_key ------------------------------------------------- */

/* compatcrypt_weak_key() gives the connection's setting,
 * compatcrypt_weak_key(action) sets it and gives it. */
static void WeakKey(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
  static const char fn[] = "compatcrypt_weak_key";
  Connection *connection = sqlite3_user_data(ctx);
  if (argc == 1) {
    const char *action = (const char *)sqlite3_value_text(argv[0]);
    int found = 0;
    for (int i = 0; action != NULL && i < 3; i++) {
      if (sqlite3_stricmp(action, kWeakKeyActions[i]) == 0) {
        connection->weakKey = (WeakKeyAction)i;
        found = 1;
      }
    }
    if (!found) {
      SqlFailure failure;
      SqlTypeFailure(fn, "action", "'warning', 'error' or 'ignore'", &failure);
      return Fail(ctx, &failure);
    }
  }
  sqlite3_result_text(ctx, kWeakKeyActions[connection->weakKey], -1, SQLITE_STATIC);
}

#ifdef _WIN32
__declspec(dllexport)
#else
__attribute__((visibility("default")))
#endif
    int sqlite3_compatcrypt_init(sqlite3 *db, char **errorMessage, const sqlite3_api_routines *api) {
  (void)errorMessage;
  SQLITE_EXTENSION_INIT2(api);
  Connection *connection = sqlite3_malloc(sizeof *connection);
  if (connection == NULL) return SQLITE_NOMEM;
  connection->references = 1; /* this function's, until it returns */
  connection->weakKey = WEAK_KEY_WARNING;
  connection->isInterrupted = IsInterruptedOf(api);
  static const int pure = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  static const int direct = SQLITE_UTF8 | SQLITE_DIRECTONLY;
  static const struct {
    const char *name;
    int argc;
    int flags;
    void (*call)(sqlite3_context *, int, sqlite3_value **);
    void (*step)(sqlite3_context *, int, sqlite3_value **);
    void (*final)(sqlite3_context *);
  } functions[] = {
      {"compatcrypt_digest", 1, pure, Digest, NULL, NULL},
      {"compatcrypt_key", 1, pure, Key, NULL, NULL},
      {"compatcrypt_key_bytes_in_effect", 1, pure, KeyBytesInEffect, NULL, NULL},
      {"compatcrypt_encode", 2, pure, Encode, NULL, NULL},
      {"compatcrypt_decode", 2, pure, Decode, NULL, NULL},
      {"compatcrypt_encode_password", 2, pure, EncodePassword, NULL, NULL},
      {"compatcrypt_decode_password", 2, pure, DecodePassword, NULL, NULL},
      {"compatcrypt_digest_agg", 1, pure, NULL, AggStep, AggFinal},
      {"compatcrypt_file_digest", 2, direct, FileDigestSql, NULL, NULL},
      /* A setting: never from the schema, and never the same result. */
      {"compatcrypt_weak_key", 0, direct, WeakKey, NULL, NULL},
      {"compatcrypt_weak_key", 1, direct, WeakKey, NULL, NULL},
  };
  int rc = SQLITE_OK;
  for (size_t i = 0; rc == SQLITE_OK && i < sizeof functions / sizeof functions[0]; i++) {
    connection->references++;
    /* On failure SQLite calls Release itself. */
    rc = sqlite3_create_function_v2(db, functions[i].name, functions[i].argc, functions[i].flags, connection,
                                    functions[i].call, functions[i].step, functions[i].final, Release);
  }
  Release(connection);
  return rc;
}
