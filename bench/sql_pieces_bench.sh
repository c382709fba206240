#!/usr/bin/env bash
# What working in pieces costs, and the digest aggregate's rate, in both
# databases, in one run:
#   - 1 MiB values decoded and digested by this build's extensions and, when
#     a baseline build is given, by the baseline's, alternating, ROUNDS times
#     (default 5): the ratio this/baseline within each round;
#   - 96-byte rows decoded (a key schedule per row or per key);
#   - compatcrypt_digest_agg over 1 MiB objects cut into 8 KiB chunks beside
#     compatcrypt_digest over the whole values: objects per second and the
#     ratio aggregate/whole within each round; beside them the database's
#     own ordered concatenation of the same chunks (string_agg,
#     group_concat) and the chunks read in order with nothing computed:
#     the floor of any aggregate over them.
# Every query is checked to give the same bytes from both builds first;
# the timed queries sum the results' lengths. Times are the CPU time of the
# database's process (PostgreSQL's backend, the Python thread that runs
# SQLite), less disturbed than wall time on a shared machine. Within a round
# the builds take turns in the opposite order each time.
#
# Usage (from the source tree, after building into build/; root is not needed):
#   PG_MODULE=build/sql/postgresql/lib/compatcrypt.so PG_EXTENSION_FILES=sql/postgresql \
#   LIBCOMPATCRYPT_CXX=build/src/cxx/libcompatcrypt-cxx.so.1 \
#   SQLITE_EXTENSION=build/sql/sqlite/lib/compatcrypt.so \
#   [BASELINE_PG_MODULE=old/compatcrypt.so BASELINE_SQLITE_EXTENSION=old/compatcrypt_sqlite.so \
#    LIBCOMPATCRYPT=build/src/libcompatcrypt.so.1] bench/sql_pieces_bench.sh
# A baseline module that links libcompatcrypt.so.1 finds it at
# LIBCOMPATCRYPT.
here=$(cd "$(dirname "$0")" && pwd)
rounds=${ROUNDS:-5}
objects=${OBJECTS:-64}
small_rows=${SMALL_ROWS:-200000}
PG_SERVER_OPTIONS="-c shared_buffers=512MB -c jit=off -c max_parallel_workers_per_gather=0"
source "$here/../tests/sql/pg_server.sh"

key="'\\x0123456789abcdeffedcba9876543210'::bytea"
q() { "${PSQL[@]}" -v ON_ERROR_STOP=1 -At "$@"; }

schemas=(public)
if [ -n "${BASELINE_PG_MODULE:-}" ]; then
  pg_install_file "$BASELINE_PG_MODULE" "$("$pg_config" --pkglibdir)/compatcrypt_baseline.so"
  q -c "CREATE SCHEMA baseline" \
    -c "CREATE FUNCTION baseline.compatcrypt_decode(bytea, bytea) RETURNS bytea
          AS '\$libdir/compatcrypt_baseline', 'compatcrypt_decode' LANGUAGE C STRICT IMMUTABLE" \
    -c "CREATE FUNCTION baseline.compatcrypt_digest(bytea) RETURNS bytea
          AS '\$libdir/compatcrypt_baseline', 'compatcrypt_digest' LANGUAGE C STRICT IMMUTABLE" \
    -c "CREATE FUNCTION baseline.agg_step(internal, bytea) RETURNS internal
          AS '\$libdir/compatcrypt_baseline', 'compatcrypt_digest_agg_step' LANGUAGE C IMMUTABLE" \
    -c "CREATE FUNCTION baseline.agg_final(internal) RETURNS bytea
          AS '\$libdir/compatcrypt_baseline', 'compatcrypt_digest_agg_final' LANGUAGE C IMMUTABLE" \
    -c "CREATE AGGREGATE baseline.compatcrypt_digest_agg(bytea) (SFUNC = baseline.agg_step, STYPE = internal,
          FINALFUNC = baseline.agg_final)" >/dev/null
  schemas+=(baseline)
fi

# $objects values of 1 MiB, stored out of line uncompressed, and the same
# bytes as 128 chunks of 8 KiB each; 96-byte rows.
q -c "CREATE EXTENSION compatcrypt" \
  -c "CREATE TABLE wholes (object int, v bytea); ALTER TABLE wholes ALTER COLUMN v SET STORAGE EXTERNAL" \
  -c "INSERT INTO wholes SELECT i, (SELECT string_agg(decode(md5(i || '/' || j), 'hex'), '')
                                     FROM generate_series(1, 65536) AS j)
        FROM generate_series(1, $objects) AS i" \
  -c "CREATE TABLE chunks (object int, n int, chunk bytea); ALTER TABLE chunks ALTER COLUMN chunk SET STORAGE EXTERNAL" \
  -c "INSERT INTO chunks SELECT object, n, substring(v FROM (n - 1) * 8192 + 1 FOR 8192)
        FROM wholes, generate_series(1, 128) AS n" \
  -c "CREATE TABLE rows96 AS SELECT i, decode(md5(i::text) || md5((i + 1)::text) || md5((i + 2)::text)
                                              || md5((i + 3)::text) || md5((i + 4)::text) || md5((i + 5)::text), 'hex') AS v
        FROM generate_series(1, $small_rows) AS i" \
  -c "VACUUM ANALYZE wholes" -c "VACUUM ANALYZE chunks" -c "VACUUM ANALYZE rows96" >/dev/null

declare -A query=(
  [decode_1mib]="SELECT sum(F(S.compatcrypt_decode(v, $key))) FROM wholes"
  [digest_1mib]="SELECT sum(F(S.compatcrypt_digest(v))) FROM wholes"
  [decode_96b]="SELECT sum(F(S.compatcrypt_decode(v, $key))) FROM rows96"
  [agg_8kib]="SELECT sum(F(d)) FROM (SELECT S.compatcrypt_digest_agg(chunk ORDER BY n) AS d FROM chunks GROUP BY object) AS o"
)
names=(decode_1mib digest_1mib decode_96b agg_8kib)
# F is a checksum of the bytes for the check, the length for the timing.
sql_of() { sed -e "s/S\\./$2./g" -e "s/F(/${3:-length}(/g" <<<"${query[$1]}"; }
q -c "CREATE FUNCTION checksum(b bytea) RETURNS bigint LANGUAGE sql IMMUTABLE AS 'SELECT hashtext(encode(b, ''base64''))'" \
  >/dev/null

# The same answers from every build, and the aggregate equal to the whole.
for name in "${names[@]}"; do
  answers=$(for s in "${schemas[@]}"; do q -c "$(sql_of "$name" "$s" checksum)"; done | sort -u | wc -l)
  [ "$answers" = 1 ] || { echo "FAIL: $name differs between builds"; exit 1; }
done
[ "$(q -c "$(sql_of agg_8kib public checksum)")" = "$(q -c "$(sql_of digest_1mib public checksum)")" ] ||
  { echo "FAIL: the aggregate differs from the digest of the whole"; exit 1; }

# The CPU time the server process spent on a query (its schedstat, in
# nanoseconds), so that the other work of a shared machine counts less than
# wall time would let it; in milliseconds.
cpu="split_part(pg_read_file('/proc/self/schedstat'), ' ', 1)::bigint"
timed() { # sql
  printf '%s\n' "SELECT $cpu AS t0 \\gset" "$1;" "SELECT ($cpu - :t0) / 1e6;" | q -f - | tail -n 1
}
concat="SELECT sum(length(c)) FROM (SELECT string_agg(chunk, '' ORDER BY n) AS c FROM chunks GROUP BY object) AS o"
# The floor of any aggregate over the chunks: each one read (get_byte
# takes the whole value from the TOAST table) in order, nothing computed.
read="SELECT sum(m) FROM (SELECT max(get_byte(chunk, 8191) ORDER BY n) AS m FROM chunks GROUP BY object) AS o"
declare -A ms
for r in $(seq "$rounds"); do
  order=("${schemas[@]}")
  [ $((r % 2)) -eq 1 ] || order=($(printf '%s\n' "${schemas[@]}" | tac))
  for name in "${names[@]}"; do
    for s in "${order[@]}"; do ms[$name.$s]+="$(timed "$(sql_of "$name" "$s")") "; done
  done
  ms[concat.public]+="$(timed "$concat") "
  ms[read.public]+="$(timed "$read") "
done

model=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
echo "machine: $model, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); $rounds rounds, alternating"
echo "PostgreSQL: $objects objects of 1 MiB (128 chunks of 8 KiB each), $small_rows rows of 96 bytes"
args=()
for name in "${names[@]}"; do
  for s in "${schemas[@]}"; do args+=("$name.$s=${ms[$name.$s]}"); done
done
args+=("concat.public=${ms[concat.public]}" "read.public=${ms[read.public]}")
/usr/bin/python3 - "$objects" "$small_rows" "${args[@]}" <<'PY'
import sys
objects, small = int(sys.argv[1]), int(sys.argv[2])
t = {}
for a in sys.argv[3:]:
    k, v = a.split("=")
    t[k] = [float(x) for x in v.split()]
rows = {"decode_1mib": objects, "digest_1mib": objects, "decode_96b": small, "agg_8kib": objects, "concat": objects, "read": objects}
def rate(k): return [rows[k.split(".")[0]] / (ms / 1000) for ms in t[k]]
def span(v, scale=1): return f"{min(v) / scale:.1f}-{max(v) / scale:.1f}"
def ratio(a, b): r = [x / y for x, y in zip(rate(a), rate(b))]; return f"{min(r):.3f}-{max(r):.3f} (median {sorted(r)[len(r) // 2]:.3f})"
print("| query | build | rows/s (range) | ratio in the same round |")
print("|---|---|---|---|")
for name in ["decode_1mib", "digest_1mib", "decode_96b", "agg_8kib"]:
    for s in ["public", "baseline"]:
        k = f"{name}.{s}"
        if k not in t: continue
        note = ""
        if s == "public" and f"{name}.baseline" in t: note = f"{ratio(k, name + '.baseline')} x baseline"
        if name == "agg_8kib": note += ("; " if note else "") + f"{ratio(k, 'digest_1mib.' + s)} x compatcrypt_digest of the whole"
        if name == "agg_8kib" and s == "public": note += f"; {ratio(k, 'concat.public')} x string_agg of the same chunks"
        print(f"| {name} | {'this build' if s == 'public' else 'baseline'} | {span(rate(k))} | {note} |")
print(f"| string_agg(chunk, '' ORDER BY n) | | {span(rate('concat.public'))} | {ratio('concat.public', 'digest_1mib.public')} x compatcrypt_digest of the whole |")
print(f"| reading the chunks alone, in order | | {span(rate('read.public'))} | {ratio('read.public', 'digest_1mib.public')} x compatcrypt_digest of the whole |")
PY

# SQLite: the same in :memory:, from Python's sqlite3, one connection per build.
[ -n "${SQLITE_EXTENSION:-}" ] || exit 0
echo "SQLite $(/usr/bin/python3 -c 'import sqlite3; print(sqlite3.sqlite_version)'):"
/usr/bin/python3 - "$rounds" "$objects" "$small_rows" "$SQLITE_EXTENSION" "${BASELINE_SQLITE_EXTENSION:-}" <<'PY'
import hashlib, sqlite3, sys, time
rounds, objects, small = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
builds = {"this build": sys.argv[4]}
if sys.argv[5]: builds["baseline"] = sys.argv[5]
key = bytes.fromhex("0123456789abcdeffedcba9876543210")
wholes = [b"".join(hashlib.md5(f"{i}/{j}".encode()).digest() for j in range(1, 65537)) for i in range(objects)]
rows96 = [b"".join(hashlib.md5(str(i + k).encode()).digest() for k in range(6)) for i in range(small)]
dbs = {}
for name, path in builds.items():
    db = sqlite3.connect(":memory:")
    db.enable_load_extension(True)
    db.execute("SELECT load_extension(?, 'sqlite3_compatcrypt_init')", (path,))
    db.execute("CREATE TABLE wholes (object INTEGER, v BLOB)")
    db.executemany("INSERT INTO wholes VALUES (?, ?)", enumerate(wholes))
    db.execute("CREATE TABLE chunks (object INTEGER, n INTEGER, chunk BLOB)")
    db.executemany("INSERT INTO chunks VALUES (?, ?, ?)",
                   ((o, n, w[n * 8192:(n + 1) * 8192]) for o, w in enumerate(wholes) for n in range(128)))
    db.execute("CREATE INDEX chunks_order ON chunks (object, n)")
    db.execute("CREATE TABLE rows96 (v BLOB)")
    db.executemany("INSERT INTO rows96 VALUES (?)", ((r,) for r in rows96))
    dbs[name] = db
queries = {
    "decode_1mib": ("SELECT compatcrypt_decode(v, ?) FROM wholes", (key,), objects),
    "digest_1mib": ("SELECT compatcrypt_digest(v) FROM wholes", (), objects),
    "decode_96b": ("SELECT compatcrypt_decode(v, ?) FROM rows96", (key,), small),
    "agg_8kib": ("SELECT (SELECT compatcrypt_digest_agg(chunk) FROM (SELECT chunk FROM chunks AS c"
                 " WHERE c.object = o.object ORDER BY n)) FROM wholes AS o", (), objects),
}
concat = ("SELECT (SELECT length(group_concat(chunk, X'')) FROM (SELECT chunk FROM chunks AS c"
          " WHERE c.object = o.object ORDER BY n)) FROM wholes AS o", (), objects)
# The floor of any aggregate over the chunks: each read whole, in order.
read = ("SELECT (SELECT max(substr(chunk, 8192, 1)) FROM (SELECT chunk FROM chunks AS c"
        " WHERE c.object = o.object ORDER BY n)) FROM wholes AS o", (), objects)
answers = {q: {hashlib.sha256(repr(db.execute(sql, args).fetchall()).encode()).hexdigest() for db in dbs.values()}
           for q, (sql, args, _) in queries.items()}
assert all(len(a) == 1 for a in answers.values()), answers
assert answers["agg_8kib"] == answers["digest_1mib"]
rates = {}
def timed(db, sql, args, n):
    started = time.thread_time()
    db.execute(sql, args).fetchall()
    return n / (time.thread_time() - started)
for r in range(rounds):
    for q, (sql, args, n) in queries.items():
        for name, db in (list(dbs.items()) if r % 2 == 0 else list(dbs.items())[::-1]):
            rates.setdefault((q, name), []).append(timed(db, sql, args, n))
    rates.setdefault(("concat", "this build"), []).append(timed(dbs["this build"], *concat))
    rates.setdefault(("read", "this build"), []).append(timed(dbs["this build"], *read))
def ratio(a, b):
    r = sorted(x / y for x, y in zip(rates[a], rates[b]))
    return f"{r[0]:.3f}-{r[-1]:.3f} (median {r[len(r) // 2]:.3f})"
print("| query | build | rows/s (range) | ratio in the same round |")
print("|---|---|---|---|")
for q in queries:
    for name in dbs:
        v = rates[(q, name)]
        note = ""
        if name == "this build" and "baseline" in dbs: note = f"{ratio((q, name), (q, 'baseline'))} x baseline"
        if q == "agg_8kib": note += ("; " if note else "") + f"{ratio((q, name), ('digest_1mib', name))} x compatcrypt_digest of the whole"
        if q == "agg_8kib" and name == "this build": note += f"; {ratio((q, name), ('concat', name))} x group_concat of the same chunks"
        print(f"| {q} | {name} | {min(v):.1f}-{max(v):.1f} | {note} |")
v = rates[("concat", "this build")]
print(f"| group_concat(chunk, X'') in order | | {min(v):.1f}-{max(v):.1f} | {ratio(('concat', 'this build'), ('digest_1mib', 'this build'))} x compatcrypt_digest of the whole |")
v = rates[("read", "this build")]
print(f"| reading the chunks alone, in order | | {min(v):.1f}-{max(v):.1f} | {ratio(('read', 'this build'), ('digest_1mib', 'this build'))} x compatcrypt_digest of the whole |")
PY
