/*
 * compatcrypt for PostgreSQL: the library's digest, key and encoding
 * functions over bytea, on the library's binding surface.
 *
 * Long work goes in pieces with CHECK_FOR_INTERRUPTS() between two of
 * them, so statement_timeout, pg_cancel_backend, pg_terminate_backend and
 * a fast shutdown stop a large value, an endless device or a huge file
 * promptly. The surface's objects live in the backend's memory, each with
 * a memory-context callback that destroys it: an ERROR that leaves in the
 * middle (an interrupt among them) closes the file and wipes the key
 * schedule as the context goes. A coder is kept for the rows of a
 * statement while the key stays the same (in fn_extra), so a key schedule
 * is made once per key rather than once per row.
 *
 * A key a zero byte cuts, or an empty password, gives a WARNING (or an
 * ERROR, or nothing: the setting compatcrypt.weak_key) once per key and
 * call site. Checks and message texts are shared with the SQLite extension
 * (sql_rules.h); no message carries a key, a password or data.
 */
// clang-format off
#include "postgres.h" /* first, as every server header needs it */
// clang-format on

#include <errno.h>
#include <string.h>

#include "catalog/pg_authid.h"
#include "compatcrypt_bind.h"
#include "fmgr.h"
#include "miscadmin.h"
#include "sql_pieces.h"
#include "sql_rules.h"
#include "utils/acl.h"
#include "utils/builtins.h"
#include "utils/guc.h"

PG_MODULE_MAGIC;

/* compatcrypt.weak_key: what a cut key or an empty password gives. */
typedef enum { WEAK_KEY_WARNING, WEAK_KEY_ERROR, WEAK_KEY_IGNORE } WeakKeyAction;
static int weakKeyAction = WEAK_KEY_WARNING;
static const struct config_enum_entry kWeakKeyActions[] = {
    {"warning", WEAK_KEY_WARNING, false},
    {"error", WEAK_KEY_ERROR, false},
    {"ignore", WEAK_KEY_IGNORE, false},
    {NULL, 0, false},
};

void _PG_init(void);
void _PG_init(void) {
  DefineCustomEnumVariable(
      "compatcrypt.weak_key", "What using a key that a zero byte cuts, or an empty password, gives.",
      "warning (the default) reports it once per key and call site, error refuses the key, "
      "ignore says nothing.",
      &weakKeyAction, WEAK_KEY_WARNING, kWeakKeyActions, PGC_USERSET, 0, NULL, NULL, NULL);
  MarkGUCPrefixReserved("compatcrypt");
}

/* ---- Errors ----------------------------------------------------------- */

/* The SQLSTATE of a failure; a file's comes from its errno, as PostgreSQL
 * gives it for its own files, except that a FIFO or socket (no offset to
 * read from) is the wrong kind of object. */
static int CodeOf(SqlKind kind) {
  switch (kind) {
    case SQL_NO_MEMORY:
      return ERRCODE_OUT_OF_MEMORY;
    case SQL_PRIVILEGE:
      return ERRCODE_INSUFFICIENT_PRIVILEGE;
    case SQL_LIBRARY:
      return ERRCODE_EXTERNAL_ROUTINE_EXCEPTION;
    case SQL_BAD_TYPE:
      return ERRCODE_DATATYPE_MISMATCH;
    case SQL_FILE:
      return ERRCODE_IO_ERROR;
    case SQL_BAD_VALUE:
    case SQL_WEAK_KEY:
      break;
  }
  return ERRCODE_INVALID_PARAMETER_VALUE;
}

static void Raise(const SqlFailure *failure, const char *hint, const char *detail) pg_attribute_noreturn();
static void Raise(const SqlFailure *failure, const char *hint, const char *detail) {
  if (failure->kind == SQL_FILE && failure->os_error == ESPIPE)
    ereport(ERROR, (errcode(ERRCODE_WRONG_OBJECT_TYPE), errmsg("%s", failure->text)));
  if (failure->kind == SQL_FILE && failure->os_error != 0) {
    errno = failure->os_error; /* what errcode_for_file_access() reads */
    ereport(ERROR, (errcode_for_file_access(), errmsg("%s", failure->text)));
  }
  ereport(ERROR, (errcode(CodeOf(failure->kind)), errmsg("%s", failure->text), hint ? errhint("%s", hint) : 0,
                  detail ? errdetail("%s", detail) : 0));
  pg_unreachable();
}

/* A weak key or password, as compatcrypt.weak_key says. */
static void ReportWeak(const SqlFailure *failure) {
  if (weakKeyAction == WEAK_KEY_IGNORE) return;
  if (weakKeyAction == WEAK_KEY_ERROR) Raise(failure, SqlWeakKeyHint, NULL);
  ereport(WARNING, (errcode(ERRCODE_WARNING), errmsg("%s", failure->text), errhint("%s", SqlWeakKeyHint)));
}

/* Between two pieces: an interrupt (cancel, timeout, terminate) leaves
 * here by its ERROR or FATAL. */
static int GoOn(void *host) {
  (void)host;
  CHECK_FOR_INTERRUPTS();
  return 1;
}

/* ---- Surface objects in the backend's memory -------------------------- */

/* One object of the surface and, for a coder, the key or password it was
 * made for. Its memory context's callback destroys the object and wipes
 * the secret, whichever way the context goes. `busy` is set while a value
 * is being worked on: an object found busy was left by an ERROR in the
 * middle of a value, and is made anew rather than used. */
typedef struct {
  MemoryContextCallback callback;
  MemoryContext context;
  int (*destroy)(void *);
  void *handle; /* the live object, or NULL */
  bool busy;
  bool weak;           /* a coder whose key is cut or whose password is empty */
  SqlFailure weakness; /* then, its report (counts only, no key byte) */
  uint8 *secret;
  size_t secretSize, secretRoom;
  size_t room;
  char memory[FLEXIBLE_ARRAY_MEMBER]; /* the object's */
} Slot;

static void DropObject(Slot *slot) {
  if (slot->handle != NULL) slot->destroy(slot->handle);
  slot->handle = NULL;
  slot->busy = false;
}

static void DropSecret(Slot *slot) {
  if (slot->secret != NULL) SqlWipe(slot->secret, slot->secretRoom);
  slot->secretSize = 0;
}

static void SlotGone(void *arg) {
  Slot *slot = arg;
  DropObject(slot);
  DropSecret(slot);
}

static Slot *NewSlot(MemoryContext context, size_t room, int (*destroy)(void *)) {
  Slot *slot = MemoryContextAllocZero(context, offsetof(Slot, memory) + room);
  slot->context = context;
  slot->destroy = destroy;
  slot->room = room;
  slot->callback.func = SlotGone;
  slot->callback.arg = slot;
  MemoryContextRegisterResetCallback(context, &slot->callback);
  return slot;
}

static int DestroyDigest(void *handle) { return compatcrypt_bind_digest_destroy(handle); }
static int DestroyFile(void *handle) { return compatcrypt_bind_file_destroy(handle); }
static int DestroyCoder(void *handle) { return compatcrypt_bind_coder_destroy(handle); }

/* The slot kept in fn_extra for the rows of a statement (a new one per
 * call where there is no FmgrInfo). */
static Slot *SlotOf(FunctionCallInfo fcinfo, size_t room, int (*destroy)(void *)) {
  if (fcinfo->flinfo == NULL) return NewSlot(CurrentMemoryContext, room, destroy);
  if (fcinfo->flinfo->fn_extra == NULL)
    fcinfo->flinfo->fn_extra = NewSlot(fcinfo->flinfo->fn_mcxt, room, destroy);
  return fcinfo->flinfo->fn_extra;
}

static bytea *NewBytea(Size len) {
  bytea *out = palloc(VARHDRSZ + len);
  SET_VARSIZE(out, VARHDRSZ + len);
  return out;
}

static void Check(int rc, const char *fn) {
  SqlFailure failure;
  if (rc == COMPATCRYPT_BIND_OK) return;
  SqlResultFailure(fn, rc, &failure);
  Raise(&failure, NULL, NULL);
}

/* ---- Digest ------------------------------------------------------------ */

/* The digest object of this call site, ready for a new message. */
static Slot *DigestOf(FunctionCallInfo fcinfo, const char *fn) {
  Slot *slot = SlotOf(fcinfo, compatcrypt_bind_digest_size(), DestroyDigest);
  if (slot->busy) DropObject(slot);
  if (slot->handle == NULL)
    Check(compatcrypt_bind_digest_init(slot->memory, slot->room, (compatcrypt_bind_digest **)&slot->handle),
          fn);
  return slot;
}

PG_FUNCTION_INFO_V1(compatcrypt_digest);
Datum compatcrypt_digest(PG_FUNCTION_ARGS) {
  static const char fn[] = "compatcrypt_digest";
  bytea *data = PG_GETARG_BYTEA_PP(0);
  bytea *out = NewBytea(COMPATCRYPT_BIND_DIGEST_BYTES);
  Slot *slot = DigestOf(fcinfo, fn);
  slot->busy = true;
  Check(SqlDigestPieces(slot->handle, VARDATA_ANY(data), VARSIZE_ANY_EXHDR(data), GoOn, NULL), fn);
  Check(compatcrypt_bind_digest_finish(slot->handle, (uint8 *)VARDATA(out)), fn);
  slot->busy = false;
  PG_RETURN_BYTEA_P(out);
}

/* ---- Keys -------------------------------------------------------------- */

PG_FUNCTION_INFO_V1(compatcrypt_key);
Datum compatcrypt_key(PG_FUNCTION_ARGS) {
  static const char fn[] = "compatcrypt_key";
  bytea *password = PG_GETARG_BYTEA_PP(0);
  size_t size = VARSIZE_ANY_EXHDR(password);
  /* Every byte counts here, zero bytes included: only emptiness is a
   * finding. */
  if (compatcrypt_bind_password_check(VARDATA_ANY(password), size, 0) == COMPATCRYPT_BIND_E_PASSWORD_EMPTY) {
    SqlFailure failure;
    SqlEmptyPassword(fn, &failure);
    ReportWeak(&failure);
  }
  bytea *out = NewBytea(COMPATCRYPT_BIND_KEY_BYTES);
  Check(compatcrypt_bind_key_from_password(VARDATA_ANY(password), size, (uint8 *)VARDATA(out)), fn);
  PG_RETURN_BYTEA_P(out);
}

PG_FUNCTION_INFO_V1(compatcrypt_key_bytes_in_effect);
Datum compatcrypt_key_bytes_in_effect(PG_FUNCTION_ARGS) {
  bytea *key = PG_GETARG_BYTEA_PP(0);
  size_t size = VARSIZE_ANY_EXHDR(key);
  int bytes = SqlKeyBytesInEffect((const uint8 *)VARDATA_ANY(key), size);
  if (bytes < 0) {
    SqlFailure failure;
    SqlKeyLengthFailure("compatcrypt_key_bytes_in_effect", size, &failure);
    Raise(&failure, SqlKeyHint, NULL);
  }
  PG_RETURN_INT32(bytes);
}

/* ---- Coders ------------------------------------------------------------ */

/* The coder of this call site for `secret` (a key, or a password when
 * `password`), made anew only when the secret differs from the last row's.
 * A weak key is reported when its coder is made, and refused on every row
 * while compatcrypt.weak_key is error. */
static Slot *CoderOf(FunctionCallInfo fcinfo, int direction, const uint8 *secret, size_t size, bool password,
                     const char *fn) {
  Slot *slot = SlotOf(fcinfo, compatcrypt_bind_coder_size(), DestroyCoder);
  if (slot->busy) DropObject(slot);
  if (slot->handle != NULL && slot->secretSize == size && SqlSameSecret(slot->secret, secret, size)) {
    if (slot->weak && weakKeyAction == WEAK_KEY_ERROR) Raise(&slot->weakness, SqlWeakKeyHint, NULL);
    return slot;
  }
  DropObject(slot);
  DropSecret(slot);
  if (slot->secretRoom < size) {
    uint8 *room = MemoryContextAlloc(slot->context, size);
    if (slot->secret != NULL) pfree(slot->secret);
    slot->secret = room;
    slot->secretRoom = size;
  }
  uint8 key[COMPATCRYPT_BIND_KEY_BYTES];
  const uint8 *cipherKey = secret;
  size_t cipherKeySize = size;
  if (password) {
    Check(compatcrypt_bind_key_from_password(secret, size, key), fn);
    cipherKey = key;
    cipherKeySize = sizeof key;
  }
  int rc = compatcrypt_bind_coder_init(slot->memory, slot->room, direction, cipherKey, cipherKeySize,
                                       (compatcrypt_bind_coder **)&slot->handle);
  slot->weak = false;
  if (rc == COMPATCRYPT_BIND_OK) {
    if (password && size == 0) {
      SqlEmptyPassword(fn, &slot->weakness);
      slot->weak = true;
    } else {
      slot->weak = SqlCutKey(fn, cipherKey, cipherKeySize, &slot->weakness);
    }
  }
  SqlWipe(key, sizeof key);
  if (rc == COMPATCRYPT_BIND_E_KEY_LENGTH) {
    SqlFailure failure;
    SqlKeyLengthFailure(fn, size, &failure);
    Raise(&failure, SqlKeyHint, NULL);
  }
  Check(rc, fn);
  if (size > 0) memcpy(slot->secret, secret, size);
  slot->secretSize = size;
  if (slot->weak) ReportWeak(&slot->weakness);
  return slot;
}

static bytea *Code(Slot *slot, bytea *data, const char *fn) {
  Size len = VARSIZE_ANY_EXHDR(data);
  bytea *out = NewBytea(len);
  slot->busy = true;
  Check(SqlCodePieces(slot->handle, VARDATA_ANY(data), len, VARDATA(out), NULL, GoOn, NULL), fn);
  slot->busy = false;
  return out;
}

static Datum CodeWithKey(FunctionCallInfo fcinfo, int direction, const char *fn) {
  bytea *data = PG_GETARG_BYTEA_PP(0);
  bytea *key = PG_GETARG_BYTEA_PP(1);
  Slot *slot = CoderOf(fcinfo, direction, (const uint8 *)VARDATA_ANY(key), VARSIZE_ANY_EXHDR(key), false, fn);
  PG_RETURN_BYTEA_P(Code(slot, data, fn));
}

PG_FUNCTION_INFO_V1(compatcrypt_encode);
Datum compatcrypt_encode(PG_FUNCTION_ARGS) {
  return CodeWithKey(fcinfo, COMPATCRYPT_BIND_ENCODE, "compatcrypt_encode");
}

PG_FUNCTION_INFO_V1(compatcrypt_decode);
Datum compatcrypt_decode(PG_FUNCTION_ARGS) {
  return CodeWithKey(fcinfo, COMPATCRYPT_BIND_DECODE, "compatcrypt_decode");
}

/* The password's bytes in the database encoding, as EncodeKey takes them:
 * NUL-terminated, so a zero byte inside is refused (a text value cannot
 * hold one; the check keeps the rule in one place). */
static Datum CodeWithPassword(FunctionCallInfo fcinfo, int direction, const char *fn) {
  bytea *data = PG_GETARG_BYTEA_PP(0);
  text *password = PG_GETARG_TEXT_PP(1);
  size_t size = VARSIZE_ANY_EXHDR(password);
  SqlFailure failure;
  int empty;
  if (!SqlPasswordUsable(fn, VARDATA_ANY(password), size, &empty, &failure))
    Raise(&failure, "Use compatcrypt_key(password bytea) and the key form for such passwords.", NULL);
  Slot *slot = CoderOf(fcinfo, direction, (const uint8 *)VARDATA_ANY(password), size, true, fn);
  PG_RETURN_BYTEA_P(Code(slot, data, fn));
}

PG_FUNCTION_INFO_V1(compatcrypt_encode_password);
Datum compatcrypt_encode_password(PG_FUNCTION_ARGS) {
  return CodeWithPassword(fcinfo, COMPATCRYPT_BIND_ENCODE, "compatcrypt_encode_password");
}

PG_FUNCTION_INFO_V1(compatcrypt_decode_password);
Datum compatcrypt_decode_password(PG_FUNCTION_ARGS) {
  return CodeWithPassword(fcinfo, COMPATCRYPT_BIND_DECODE, "compatcrypt_decode_password");
}

/* ---- File digest -------------------------------------------------------- */

/* Reading server files is for those the server trusts with them: the SQL
 * script grants EXECUTE to pg_read_server_files only, and this check holds
 * even where someone granted more. The file is opened without waiting (a
 * FIFO or socket is refused at once) and read in pieces; its object lives
 * in the call's memory context, so an interrupt's ERROR closes it. */
PG_FUNCTION_INFO_V1(compatcrypt_file_digest);
Datum compatcrypt_file_digest(PG_FUNCTION_ARGS) {
  static const char fn[] = "compatcrypt_file_digest";
  text *path = PG_GETARG_TEXT_PP(0);
  int64 offset = PG_GETARG_INT64(1);
  SqlFailure failure;
  if (!has_privs_of_role(GetUserId(), ROLE_PG_READ_SERVER_FILES)) {
    SqlPrivilegeFailure(fn, &failure);
    Raise(&failure, NULL, SqlPrivilegeDetail);
  }
  if (!SqlOffsetInRange(fn, offset, &failure)) Raise(&failure, NULL, NULL);
  if (!SqlPathUsable(fn, VARDATA_ANY(path), VARSIZE_ANY_EXHDR(path), &failure)) Raise(&failure, NULL, NULL);
  char *name = text_to_cstring(path);
  bytea *out = NewBytea(COMPATCRYPT_BIND_DIGEST_BYTES);
  Slot *slot = NewSlot(CurrentMemoryContext, compatcrypt_bind_file_size(), DestroyFile);
  Check(compatcrypt_bind_file_init(slot->memory, slot->room, (compatcrypt_bind_file **)&slot->handle), fn);
  int osError = 0;
  int rc = compatcrypt_bind_file_open(slot->handle, name, offset, &osError);
  if (rc == COMPATCRYPT_BIND_OK) rc = SqlFilePieces(slot->handle, &osError, GoOn, NULL);
  if (rc == COMPATCRYPT_BIND_OK) rc = compatcrypt_bind_file_finish(slot->handle, (uint8 *)VARDATA(out));
  DropObject(slot);
  if (rc == COMPATCRYPT_BIND_E_FILE) {
    SqlFileFailure(fn, name, offset, osError, &failure);
    Raise(&failure, NULL, NULL);
  }
  Check(rc, fn);
  PG_RETURN_BYTEA_P(out);
}

/* ---- compatcrypt_digest_agg --------------------------------------------- */

/* The state is the library's digest stream, in the aggregate's memory
 * context (destroyed with it); the transition function is not strict, so
 * that it can create the state, and skips NULL chunks as string_agg does. */
PG_FUNCTION_INFO_V1(compatcrypt_digest_agg_step);
Datum compatcrypt_digest_agg_step(PG_FUNCTION_ARGS) {
  static const char fn[] = "compatcrypt_digest_agg";
  MemoryContext aggContext;
  if (!AggCheckCallContext(fcinfo, &aggContext))
    ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                    errmsg("compatcrypt_digest_agg_step called in a non-aggregate context")));
  Slot *state = PG_ARGISNULL(0) ? NULL : (Slot *)PG_GETARG_POINTER(0);
  if (PG_ARGISNULL(1)) {
    if (state == NULL) PG_RETURN_NULL();
    PG_RETURN_POINTER(state);
  }
  if (state == NULL) {
    state = NewSlot(aggContext, compatcrypt_bind_digest_size(), DestroyDigest);
    Check(
        compatcrypt_bind_digest_init(state->memory, state->room, (compatcrypt_bind_digest **)&state->handle),
        fn);
  }
  bytea *chunk = PG_GETARG_BYTEA_PP(1);
  Check(SqlDigestPieces(state->handle, VARDATA_ANY(chunk), VARSIZE_ANY_EXHDR(chunk), GoOn, NULL), fn);
  PG_RETURN_POINTER(state);
}

/* The digest of the chunks so far, leaving the state as it is, should the
 * executor call the final function again. */
PG_FUNCTION_INFO_V1(compatcrypt_digest_agg_final);
Datum compatcrypt_digest_agg_final(PG_FUNCTION_ARGS) {
  if (PG_ARGISNULL(0)) PG_RETURN_NULL();
  Slot *state = (Slot *)PG_GETARG_POINTER(0);
  bytea *out = NewBytea(COMPATCRYPT_BIND_DIGEST_BYTES);
  Check(compatcrypt_bind_digest_value(state->handle, (uint8 *)VARDATA(out)), "compatcrypt_digest_agg");
  PG_RETURN_BYTEA_P(out);
}
