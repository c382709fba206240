#!/usr/bin/env bash
# The PostgreSQL extension against a server of the suite's own: the psql
# script's output must equal the expected output (known answers from
# libcompatcrypt itself, NULLs, errors with their SQLSTATE, parallel query,
# the aggregate, the file digest's privileges, the migrations).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/pg_server.sh"

"$ORACLE" postgresql >"$PG_WORK/cases.sql"
printf 'xxabc' >"$PG_WORK/xxabc.bin"
mkfifo -m 0644 "$PG_WORK/fifo"
chmod a+r "$PG_WORK"/*.sql "$PG_WORK/xxabc.bin"
cp "$here/postgresql/compatcrypt.sql" "$PG_WORK/test.sql"
chmod a+r "$PG_WORK/test.sql"

# Output with the run's directory written as @work@, as the expected file has it.
"${PSQL[@]}" -v cases="$PG_WORK/cases.sql" -v work="$PG_WORK" -f "$PG_WORK/test.sql" 2>&1 |
  sed "s|$PG_WORK|@work@|g" >"$PG_WORK/actual.out"
if ! diff -u "$here/postgresql/compatcrypt.out" "$PG_WORK/actual.out"; then
  # SQL_ACTUAL_DIR keeps the output, to be read and, where every changed
  # line is meant, taken as the expected one.
  [ -z "${SQL_ACTUAL_DIR:-}" ] || cp "$PG_WORK/actual.out" "$SQL_ACTUAL_DIR/postgresql.out"
  echo "FAIL: the output differs from $here/postgresql/compatcrypt.out (diff above)"
  exit 1
fi
echo "PASS: $(grep -c '^' "$PG_WORK/actual.out") lines of output as expected"
