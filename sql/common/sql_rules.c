#include "sql_rules.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "compatcrypt_bind.h"

/* The texts only the SQL functions have; every sentence about the
 * library's own rules comes from compatcrypt_bind_message or
 * compatcrypt_bind_key_warning. */
const char SqlKeyHint[] = "compatcrypt_key(password) derives a key from a password.";
const char SqlPrivilegeDetail[] =
    "Only superusers and members of pg_read_server_files may read server files.";
const char SqlWeakKeyHint[] =
    "The setting compatcrypt.weak_key (warning, error or ignore) chooses what it gives.";
static const char kOffsetRange[] = "offset must be between 0 and 2147483647, not";
static const char kPathNul[] = "path contains a zero byte";
static const char kPrivilege[] = "permission denied to read server files";
static const char kDefensive[] = "reading files is off on a connection in defensive mode";

static void Write(SqlFailure *failure, SqlKind kind, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

static void Write(SqlFailure *failure, SqlKind kind, const char *format, ...) {
  failure->kind = kind;
  failure->os_error = 0;
  va_list args;
  va_start(args, format);
  vsnprintf(failure->text, sizeof failure->text, format, args);
  va_end(args);
}

int SqlOffsetInRange(const char *fn, int64_t offset, SqlFailure *failure) {
  if (offset >= 0 && offset <= SQL_OFFSET_MAX) return 1;
  Write(failure, SQL_BAD_VALUE, "%s: %s %lld", fn, kOffsetRange, (long long)offset);
  return 0;
}

int SqlPathUsable(const char *fn, const char *path, size_t size, SqlFailure *failure) {
  if (memchr(path, '\0', size) == NULL) return 1;
  Write(failure, SQL_BAD_VALUE, "%s: %s", fn, kPathNul);
  return 0;
}

int SqlPasswordUsable(const char *fn, const void *password, size_t size, int *empty, SqlFailure *failure) {
  int rc = compatcrypt_bind_password_check(password, size, COMPATCRYPT_BIND_PASSWORD_STRING);
  *empty = rc == COMPATCRYPT_BIND_E_PASSWORD_EMPTY;
  if (rc == COMPATCRYPT_BIND_OK || *empty) return 1;
  SqlResultFailure(fn, rc, failure);
  return 0;
}

void SqlResultFailure(const char *fn, int code, SqlFailure *failure) {
  SqlKind kind = code == COMPATCRYPT_BIND_E_NO_MEMORY ? SQL_NO_MEMORY
                 : code == COMPATCRYPT_BIND_E_PASSWORD_NUL || code == COMPATCRYPT_BIND_E_KEY_LENGTH
                     ? SQL_BAD_VALUE
                     : SQL_LIBRARY;
  Write(failure, kind, "%s: %s", fn, compatcrypt_bind_message(code));
}

void SqlKeyLengthFailure(const char *fn, size_t size, SqlFailure *failure) {
  Write(failure, SQL_BAD_VALUE, "%s: %s, not %zu", fn,
        compatcrypt_bind_message(COMPATCRYPT_BIND_E_KEY_LENGTH), size);
}

void SqlFileFailure(const char *fn, const char *path, int64_t offset, int os_error, SqlFailure *failure) {
  /* The name as given, cut to a length that leaves room for the reason. */
  if (os_error != 0)
    Write(failure, SQL_FILE, "%s: %s \"%.200s\" from offset %lld: %s", fn,
          compatcrypt_bind_message(COMPATCRYPT_BIND_E_FILE), path, (long long)offset, strerror(os_error));
  else
    Write(failure, SQL_FILE, "%s: %s \"%.200s\" from offset %lld", fn,
          compatcrypt_bind_message(COMPATCRYPT_BIND_E_FILE), path, (long long)offset);
  failure->os_error = os_error;
}

void SqlTypeFailure(const char *fn, const char *argument, const char *wanted, SqlFailure *failure) {
  Write(failure, SQL_BAD_TYPE, "%s: %s must be %s", fn, argument, wanted);
}

void SqlPrivilegeFailure(const char *fn, SqlFailure *failure) {
  Write(failure, SQL_PRIVILEGE, "%s: %s", fn, kPrivilege);
}

void SqlDefensiveFailure(const char *fn, SqlFailure *failure) {
  Write(failure, SQL_PRIVILEGE, "%s: %s", fn, kDefensive);
}

int SqlCutKey(const char *fn, const uint8_t *key, size_t size, SqlFailure *failure) {
  char warning[SQL_MESSAGE_BYTES - 64];
  if (compatcrypt_bind_key_warning(key, size, warning, sizeof warning) <= 0) return 0;
  Write(failure, SQL_WEAK_KEY, "%s: %s", fn, warning);
  return 1;
}

void SqlEmptyPassword(const char *fn, SqlFailure *failure) {
  Write(failure, SQL_WEAK_KEY, "%s: %s", fn, compatcrypt_bind_message(COMPATCRYPT_BIND_E_PASSWORD_EMPTY));
}

int SqlKeyBytesInEffect(const uint8_t *key, size_t size) {
  int outer = 0, middle = 0;
  int rc = compatcrypt_bind_key_in_effect(key, size, &outer, &middle, NULL);
  return rc == COMPATCRYPT_BIND_OK ? outer + middle : rc;
}

int SqlSameSecret(const void *a, const void *b, size_t size) {
  const volatile unsigned char *x = a, *y = b;
  unsigned char differ = 0;
  for (size_t i = 0; i < size; i++) differ |= (unsigned char)(x[i] ^ y[i]);
  return differ == 0;
}

void SqlWipe(void *memory, size_t size) { compatcrypt_bind_wipe(memory, size); }
