/*
 * What the PostgreSQL and SQLite extensions share: the checks made before
 * the library is called, the text of every message (one table, so that
 * both databases say the same words) and wiping.
 *
 * The library's own rules are asked of its binding surface, never written
 * again here: the key's length and the bytes of a key in effect, the
 * password policy, and the sentence for each of its result codes. What
 * this file adds is what only the SQL functions know: the function's name,
 * the argument's, the file's name and offset, the system's reason.
 *
 * Every message names the function and never holds a key, a password or a
 * data byte. A failure is written into an SqlFailure; each host turns its
 * kind into its own code (a SQLSTATE, an SQLite result code) and raises it.
 */
#ifndef COMPATCRYPT_SQL_RULES_H
#define COMPATCRYPT_SQL_RULES_H

#include <stddef.h>
#include <stdint.h>

#define SQL_MESSAGE_BYTES 400

/* The file digest's offset: FileDigest's own 32-bit range, so that the SQL
 * function answers for exactly the offsets the C function takes. */
#define SQL_OFFSET_MAX INT32_MAX

typedef enum {
  SQL_BAD_VALUE, /* an argument the function cannot take */
  SQL_BAD_TYPE,  /* SQLite: a value of a type the function does not take */
  SQL_FILE,      /* the file cannot be read; os_error holds the errno */
  SQL_WEAK_KEY,  /* a cut key or an empty password the connection refuses */
  SQL_NO_MEMORY, /* the library could not allocate */
  SQL_PRIVILEGE, /* the caller may not read files */
  SQL_LIBRARY,   /* any other result code of the library */
} SqlKind;

typedef struct {
  SqlKind kind;
  int os_error; /* SQL_FILE: the errno, 0 if unknown */
  char text[SQL_MESSAGE_BYTES];
} SqlFailure;

/* The hint PostgreSQL adds to a key of the wrong length. */
extern const char SqlKeyHint[];
/* The detail PostgreSQL adds to the file digest's privilege error. */
extern const char SqlPrivilegeDetail[];
/* The hint PostgreSQL adds to a weak-key warning or error. */
extern const char SqlWeakKeyHint[];

/* Each check returns 1 when the value may be used; otherwise 0 with the
 * failure written. `fn` is the SQL function's name. */
int SqlOffsetInRange(const char *fn, int64_t offset, SqlFailure *failure);
int SqlPathUsable(const char *fn, const char *path, size_t size, SqlFailure *failure);
/* A password for the password forms (EncodeKey takes it NUL-terminated, so
 * a zero byte inside is refused). `*empty` is set to 1 for an empty
 * password, which may be used but whose key is public. */
int SqlPasswordUsable(const char *fn, const void *password, size_t size, int *empty, SqlFailure *failure);

/* Failures with their text. */
void SqlResultFailure(const char *fn, int code, SqlFailure *failure); /* any result code */
void SqlKeyLengthFailure(const char *fn, size_t size, SqlFailure *failure);
void SqlFileFailure(const char *fn, const char *path, int64_t offset, int os_error, SqlFailure *failure);
void SqlTypeFailure(const char *fn, const char *argument, const char *wanted, SqlFailure *failure);
void SqlPrivilegeFailure(const char *fn, SqlFailure *failure);
void SqlDefensiveFailure(const char *fn, SqlFailure *failure);

/* The weak-key report, written (kind SQL_WEAK_KEY) when there is one:
 * SqlCutKey for a key a zero byte cuts (the core's warning text), and
 * SqlEmptyPassword for an empty password. SqlCutKey returns 1 when the key
 * is cut, 0 when it is not (or is not 16 bytes: the coder reports that). */
int SqlCutKey(const char *fn, const uint8_t *key, size_t size, SqlFailure *failure);
void SqlEmptyPassword(const char *fn, SqlFailure *failure);

/* The key bytes in effect after the zero-byte rule (16 when no half is
 * cut), or a negative result code for a key of the wrong length. */
int SqlKeyBytesInEffect(const uint8_t *key, size_t size);

/* Equal bytes, in a time that depends on the length alone (a cached key or
 * password compared with the next row's). */
int SqlSameSecret(const void *a, const void *b, size_t size);

/* Zeroes memory in a way the compiler cannot drop. */
void SqlWipe(void *memory, size_t size);

#endif
