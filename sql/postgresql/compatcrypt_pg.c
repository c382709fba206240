/*
 * compatcrypt for PostgreSQL: the library's digest, key and encoding
 * functions over bytea. Every function checks what the library would
 * otherwise reject or misread (key length, 32-bit lengths, a NUL inside a
 * password) and raises an ERROR naming the argument; no message carries a
 * key, a password or data.
 */
// clang-format off
#include "postgres.h" /* first, as every server header needs it */
// clang-format on

#include <string.h>

#include "catalog/pg_authid.h"
#include "compatcrypt.h"
#include "digest_chunks.h"
#include "fmgr.h"
#include "miscadmin.h"
#include "utils/acl.h"
#include "utils/builtins.h"

PG_MODULE_MAGIC;

/* The library takes lengths as int32_t. */
static int32_t LengthOf(const bytea *value, const char *fn, const char *arg) {
  Size len = VARSIZE_ANY_EXHDR(value);
  if (len > (Size)INT32_MAX)
    ereport(ERROR, (errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
                    errmsg("%s: %s is %zu bytes, more than the 2147483647 the library takes", fn, arg,
                           (size_t)len)));
  return (int32_t)len;
}

static void CheckKey(const bytea *key, const char *fn) {
  Size len = VARSIZE_ANY_EXHDR(key);
  if (len != COMPATCRYPT_KEY_BYTES)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("%s: key must be %d bytes, not %zu", fn, COMPATCRYPT_KEY_BYTES, (size_t)len),
                    errhint("compatcrypt_key(password) derives a key from a password.")));
}

static void CheckResult(int32_t rc, const char *fn) {
  if (rc != COMPATCRYPT_OK)
    ereport(ERROR, (errcode(ERRCODE_EXTERNAL_ROUTINE_EXCEPTION),
                    errmsg("%s: the library returned %d", fn, (int)rc)));
}

/* A password as EncodeKey takes it: NUL-terminated, so one with a NUL
 * inside would be cut short without a word. The copy is wiped by the
 * caller. */
static char *PasswordOf(const text *password, const char *fn) {
  Size len = VARSIZE_ANY_EXHDR(password);
  const char *bytes = VARDATA_ANY(password);
  if (memchr(bytes, '\0', len) != NULL)
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE), errmsg("%s: password contains a zero byte", fn),
                    errhint("Use compatcrypt_key(password bytea) and the key form for such passwords.")));
  char *copy = palloc(len + 1);
  memcpy(copy, bytes, len);
  copy[len] = '\0';
  return copy;
}

static void Wipe(void *p, Size n) {
  volatile unsigned char *v = p;
  while (n--) *v++ = 0;
}

static bytea *NewBytea(Size len) {
  bytea *out = palloc(VARHDRSZ + len);
  SET_VARSIZE(out, VARHDRSZ + len);
  return out;
}

/* MessageDigest and KeyGenerating: one bytea in, a result of a fixed size
   out. */
typedef int32_t (*FixedSizeCall)(const unsigned char *, int32_t, unsigned char *, int32_t *, uint32_t);

static bytea *FixedSizeResult(bytea *in, FixedSizeCall call, int32_t size, const char *fn,
                              const char *argName) {
  int32_t len = LengthOf(in, fn, argName);
  bytea *out = NewBytea(size);
  int32_t outLen;
  CheckResult(call((const unsigned char *)VARDATA_ANY(in), len, (unsigned char *)VARDATA(out), &outLen,
                   COMPATCRYPT_MODE),
              fn);
  return out;
}

PG_FUNCTION_INFO_V1(compatcrypt_digest);
Datum compatcrypt_digest(PG_FUNCTION_ARGS) {
  PG_RETURN_BYTEA_P(FixedSizeResult(PG_GETARG_BYTEA_PP(0), MessageDigest, COMPATCRYPT_DIGEST_BYTES,
                                    "compatcrypt_digest", "data"));
}

PG_FUNCTION_INFO_V1(compatcrypt_key);
Datum compatcrypt_key(PG_FUNCTION_ARGS) {
  PG_RETURN_BYTEA_P(FixedSizeResult(PG_GETARG_BYTEA_PP(0), KeyGenerating, COMPATCRYPT_KEY_BYTES,
                                    "compatcrypt_key", "password"));
}

typedef int32_t (*KeyCoder)(const unsigned char *, int32_t, const unsigned char *, int32_t, unsigned char *,
                            uint32_t);

static Datum CodeWithKey(FunctionCallInfo fcinfo, KeyCoder code, const char *fn) {
  bytea *data = PG_GETARG_BYTEA_PP(0);
  bytea *key = PG_GETARG_BYTEA_PP(1);
  CheckKey(key, fn);
  int32_t len = LengthOf(data, fn, "data");
  bytea *out = NewBytea((Size)len);
  CheckResult(code((const unsigned char *)VARDATA_ANY(data), len, (const unsigned char *)VARDATA_ANY(key),
                   COMPATCRYPT_KEY_BYTES, (unsigned char *)VARDATA(out), COMPATCRYPT_MODE),
              fn);
  PG_RETURN_BYTEA_P(out);
}

PG_FUNCTION_INFO_V1(compatcrypt_encode);
Datum compatcrypt_encode(PG_FUNCTION_ARGS) {
  return CodeWithKey(fcinfo, EncodeFunction, "compatcrypt_encode");
}

PG_FUNCTION_INFO_V1(compatcrypt_decode);
Datum compatcrypt_decode(PG_FUNCTION_ARGS) {
  return CodeWithKey(fcinfo, DecodeFunction, "compatcrypt_decode");
}

typedef int32_t (*PasswordCoder)(const unsigned char *, const unsigned char *, int32_t, unsigned char *,
                                 uint32_t);

static Datum CodeWithPassword(FunctionCallInfo fcinfo, PasswordCoder code, const char *fn) {
  bytea *data = PG_GETARG_BYTEA_PP(0);
  text *password = PG_GETARG_TEXT_PP(1);
  int32_t len = LengthOf(data, fn, "data");
  char *pw = PasswordOf(password, fn);
  bytea *out = NewBytea((Size)len);
  int32_t rc = code((const unsigned char *)pw, (const unsigned char *)VARDATA_ANY(data), len,
                    (unsigned char *)VARDATA(out), COMPATCRYPT_MODE);
  Wipe(pw, strlen(pw));
  pfree(pw);
  CheckResult(rc, fn);
  PG_RETURN_BYTEA_P(out);
}

PG_FUNCTION_INFO_V1(compatcrypt_encode_password);
Datum compatcrypt_encode_password(PG_FUNCTION_ARGS) {
  return CodeWithPassword(fcinfo, EncodeKey, "compatcrypt_encode_password");
}

PG_FUNCTION_INFO_V1(compatcrypt_decode_password);
Datum compatcrypt_decode_password(PG_FUNCTION_ARGS) {
  return CodeWithPassword(fcinfo, DecodeKey, "compatcrypt_decode_password");
}

/* Reading server files is for those the server trusts with them: the SQL
 * script grants EXECUTE to pg_read_server_files only, and this check holds
 * even where someone granted more. */
PG_FUNCTION_INFO_V1(compatcrypt_file_digest);
Datum compatcrypt_file_digest(PG_FUNCTION_ARGS) {
  text *path = PG_GETARG_TEXT_PP(0);
  int64 offset = PG_GETARG_INT64(1);
  if (!has_privs_of_role(GetUserId(), ROLE_PG_READ_SERVER_FILES))
    ereport(ERROR, (errcode(ERRCODE_INSUFFICIENT_PRIVILEGE),
                    errmsg("compatcrypt_file_digest: permission denied to read server files"),
                    errdetail("Only superusers and members of pg_read_server_files may read server files.")));
  if (offset < 0 || offset > INT32_MAX)
    ereport(ERROR,
            (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
             errmsg("compatcrypt_file_digest: offset must be between 0 and 2147483647, not " INT64_FORMAT,
                    offset)));
  char *name = text_to_cstring(path);
  if (strlen(name) != (size_t)VARSIZE_ANY_EXHDR(path))
    ereport(ERROR, (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                    errmsg("compatcrypt_file_digest: path contains a zero byte")));
  bytea *out = NewBytea(COMPATCRYPT_DIGEST_BYTES);
  int32_t outLen;
  errno = 0;
  int32_t rc = FileDigest((const unsigned char *)name, (int32_t)offset, (unsigned char *)VARDATA(out),
                          &outLen, COMPATCRYPT_MODE);
  if (rc == COMPATCRYPT_FAILED && errno != 0)
    ereport(ERROR,
            (errcode_for_file_access(),
             errmsg("compatcrypt_file_digest: could not read file \"%s\" from offset " INT64_FORMAT ": %m",
                    name, offset)));
  if (rc == COMPATCRYPT_FAILED)
    ereport(ERROR,
            (errcode(ERRCODE_IO_ERROR), errmsg("compatcrypt_file_digest: could not read file \"%s\" from "
                                               "offset " INT64_FORMAT,
                                               name, offset)));
  CheckResult(rc, "compatcrypt_file_digest");
  PG_RETURN_BYTEA_P(out);
}

/* compatcrypt_digest_agg: the state lives in the aggregate's memory
 * context; the transition function is not strict, so that it can create
 * the state, and skips NULL chunks as string_agg does. */
PG_FUNCTION_INFO_V1(compatcrypt_digest_agg_step);
Datum compatcrypt_digest_agg_step(PG_FUNCTION_ARGS) {
  MemoryContext aggContext;
  if (!AggCheckCallContext(fcinfo, &aggContext))
    ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                    errmsg("compatcrypt_digest_agg_step called in a non-aggregate context")));
  DigestChunks *state = PG_ARGISNULL(0) ? NULL : (DigestChunks *)PG_GETARG_POINTER(0);
  if (PG_ARGISNULL(1)) {
    if (state == NULL) PG_RETURN_NULL();
    PG_RETURN_POINTER(state);
  }
  if (state == NULL) {
    state = MemoryContextAlloc(aggContext, sizeof *state);
    DigestChunksInit(state);
  }
  bytea *chunk = PG_GETARG_BYTEA_PP(1);
  Size len = VARSIZE_ANY_EXHDR(chunk);
  CheckResult(DigestChunksUpdate(state, (const unsigned char *)VARDATA_ANY(chunk), len),
              "compatcrypt_digest_agg");
  PG_RETURN_POINTER(state);
}

PG_FUNCTION_INFO_V1(compatcrypt_digest_agg_final);
Datum compatcrypt_digest_agg_final(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(0)) PG_RETURN_NULL();
  /* The final function runs once per group; finishing a copy leaves the
   * state as it was, should the executor call it again. */
  DigestChunks copy = *(DigestChunks *)PG_GETARG_POINTER(0);
  bytea *out = NewBytea(COMPATCRYPT_DIGEST_BYTES);
  CheckResult(DigestChunksFinish(&copy, (unsigned char *)VARDATA(out)), "compatcrypt_digest_agg");
  PG_RETURN_BYTEA_P(out);
}
