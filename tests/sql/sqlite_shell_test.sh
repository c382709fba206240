#!/usr/bin/env bash
# The SQLite extension in the sqlite3 shell: the script's output must equal
# the expected output (known answers from libcompatcrypt itself, NULLs,
# errors, the aggregate, the file digest, the migration in a transaction).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v sqlite3 >/dev/null || { echo "SKIP: no sqlite3 shell (Debian: sqlite3)"; exit 77; }
work=$(mktemp -d /tmp/compatcrypt-sqlite.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$ORACLE" sqlite >"$work/cases.sql"
printf 'xxabc' >"$work/xxabc.bin"
mkfifo "$work/fifo"
# The library the extension links, found beside it whatever the build tree's rpath.
{
  echo ".load ${SQLITE_EXTENSION%.so}"
  sed -e "s|@cases@|$work/cases.sql|g" -e "s|@work@|$work|g" "$here/sqlite/compatcrypt.sql"
} >"$work/test.sql"
# Every statement runs even after an error (-bail off); errors go to the output.
sqlite3 -batch "$work/test.db" <"$work/test.sql" 2>&1 | sed "s|$work|@work@|g" >"$work/actual.out" || true
if ! diff -u "$here/sqlite/compatcrypt.out" "$work/actual.out"; then
  # SQL_ACTUAL_DIR keeps the output, to be read and, where every changed
  # line is meant, taken as the expected one.
  [ -z "${SQL_ACTUAL_DIR:-}" ] || cp "$work/actual.out" "$SQL_ACTUAL_DIR/sqlite.out"
  echo "FAIL: the output differs from $here/sqlite/compatcrypt.out (diff above)"
  exit 1
fi
echo "PASS: $(grep -c '^' "$work/actual.out") lines of output as expected"
