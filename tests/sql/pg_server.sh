# Sourced by the PostgreSQL suites: starts a PostgreSQL server of the
# suite's own in a temporary directory (Unix socket there, no TCP) as an
# unprivileged user, from a private copy of the server's tree holding the
# extension under test, and removes all of it on every way out. Exits 77
# with the reason where the machine cannot.
#
# In: PG_MODULE, PG_EXTENSION_FILES, LIBCOMPATCRYPT_CXX (the library the
# module links), LIBCOMPATCRYPT (optional: for a module that links the C
# library, as a benchmark's baseline may). Out: PSQL (an array: psql
# connected as the superuser "postgres"), PG_WORK (the directory), PG_BIN
# (the private copy's programs), PG_RUN_AS (an array: the command prefix
# that runs as the server's user), pg_install_file SOURCE DESTINATION
# (installs a file into the private tree, at the place DESTINATION names in
# the installed server's tree).
set -euo pipefail

skip() {
  echo "SKIP: $*"
  exit 77
}

pg_config=$(command -v pg_config || true)
[ -n "$pg_config" ] || skip "no pg_config (Debian: postgresql-server-dev-15)"
pg_bin=$("$pg_config" --bindir)
[ -x "$pg_bin/initdb" ] && [ -x "$pg_bin/pg_ctl" ] || skip "no PostgreSQL server in $pg_bin (Debian: postgresql-15)"
pg_lib=$("$pg_config" --pkglibdir)
pg_share=$("$pg_config" --sharedir)

# The server refuses to run as root; as root, it runs as a system user of
# the suite's own.
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id compatcrypt-test >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin compatcrypt-test 2>/dev/null ||
      id compatcrypt-test >/dev/null 2>&1 || skip "running as root and cannot create the user compatcrypt-test"
  fi
  run_as=(runuser -u compatcrypt-test --)
fi

PG_WORK=$(mktemp -d /tmp/compatcrypt-pg.XXXXXX)
pg_started=0
cleanup() {
  if [ "$pg_started" -eq 1 ]; then
    "${run_as[@]}" "$PG_BIN/pg_ctl" -D "$PG_WORK/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$PG_WORK"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A server loads extensions only from its own directories, which it finds
# relative to its binary. The suite runs a copy of the server's binaries in
# a tree of its own, laid out as the installed one, whose library and
# extension directories hold links to the installed files beside the
# suite's build of the extension. Nothing outside the temporary directory
# is written, so the suite needs no root, two runs at once do not meet, and
# an extension the machine has installed is not the one tested.
tree=$PG_WORK/server
mkdir -p "$tree$pg_bin" "$tree$pg_lib" "$tree$pg_share"
for program in postgres initdb pg_ctl; do
  cp "$pg_bin/$program" "$tree$pg_bin/" || skip "cannot copy $pg_bin/$program"
done
cp -rs "$pg_lib/." "$tree$pg_lib/"
cp -rs "$pg_share/." "$tree$pg_share/"
mkdir -p "$tree$pg_share/extension"
# A copy the machine has installed is not linked in beside the one tested.
rm -f "$tree$pg_lib/compatcrypt.so" "$tree$pg_share/extension"/compatcrypt.control \
  "$tree$pg_share/extension"/compatcrypt--*.sql
PG_BIN=$tree$pg_bin

pg_install_file() { # source, destination (as the installed server names it)
  install -m 0644 "$1" "$tree$2"
}
pg_install_file "$PG_MODULE" "$pg_lib/compatcrypt.so"
pg_install_file "$PG_EXTENSION_FILES/compatcrypt.control" "$pg_share/extension/compatcrypt.control"
for script in "$PG_EXTENSION_FILES"/compatcrypt--*.sql; do
  pg_install_file "$script" "$pg_share/extension/$(basename "$script")"
done

# The library the module links, readable by the server's user wherever the
# build tree is.
mkdir -p "$PG_WORK/lib"
cp "$LIBCOMPATCRYPT_CXX" "$PG_WORK/lib/libcompatcrypt-cxx.so.1"
[ -z "${LIBCOMPATCRYPT:-}" ] || cp "$LIBCOMPATCRYPT" "$PG_WORK/lib/libcompatcrypt.so.1"
chmod 0755 "$PG_WORK"
chmod -R a+rX "$PG_WORK/lib"
[ ${#run_as[@]} -eq 0 ] || chown compatcrypt-test "$PG_WORK"

"${run_as[@]}" "$PG_BIN/initdb" -D "$PG_WORK/data" -U postgres --auth=trust -E UTF8 --locale=C --no-sync \
  >"$PG_WORK/initdb.log" 2>&1 || { cat "$PG_WORK/initdb.log"; exit 1; }
pg_started=1
LD_LIBRARY_PATH="$PG_WORK/lib" "${run_as[@]}" env LD_LIBRARY_PATH="$PG_WORK/lib" "$PG_BIN/pg_ctl" -D "$PG_WORK/data" \
  -l "$PG_WORK/server.log" -w -t 60 \
  -o "-k $PG_WORK -c listen_addresses= -c fsync=off -c max_worker_processes=8 -c max_parallel_workers=8 ${PG_SERVER_OPTIONS:-}" \
  start >/dev/null || { cat "$PG_WORK/server.log"; exit 1; }
PG_RUN_AS=("${run_as[@]}")
PSQL=("${run_as[@]}" "$pg_bin/psql" -X -q -h "$PG_WORK" -U postgres -d postgres -v ON_ERROR_STOP=0)
