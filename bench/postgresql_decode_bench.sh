#!/usr/bin/env bash
# Decoding 1,000,000 rows of 96 bytes in one query, compatcrypt_decode beside
# pgcrypto's raw decrypt(.., '3des-cbc/pad:none') with the same two-key key
# spread to 24 bytes (outer, middle, outer), in the same server run: first
# checks that both give the same bytes, then times each query with one
# worker (the leader alone) and with two parallel workers, alternating, ROUNDS times (default
# 5), and prints rows per second and the ratios.
#
# Usage (from the source tree, after building into build/; root is not needed):
#   PG_MODULE=build/sql/postgresql/lib/compatcrypt.so PG_EXTENSION_FILES=sql/postgresql \
#   LIBCOMPATCRYPT_CXX=build/src/cxx/libcompatcrypt-cxx.so.1 bench/postgresql_decode_bench.sh
here=$(cd "$(dirname "$0")" && pwd)
rows=${ROWS:-1000000}
rounds=${ROUNDS:-5}
PG_SERVER_OPTIONS="-c shared_buffers=512MB -c jit=off -c max_parallel_workers_per_gather=2"
source "$here/../tests/sql/pg_server.sh"

# A two-key key without zero bytes (each DES key ends at its first zero
# byte, which pgcrypto knows nothing of): outer key = even-numbered bytes,
# middle key = odd-numbered bytes.
key16=0123456789abcdeffedcba9876543210
outer="" middle=""
for i in 0 2 4 6 8 10 12 14 16 18 20 22 24 26 28 30; do
  if [ $((i / 2 % 2)) -eq 0 ]; then outer+=${key16:i:2}; else middle+=${key16:i:2}; fi
done
key24=$outer$middle$outer

q() { "${PSQL[@]}" -v ON_ERROR_STOP=1 -At "$@"; }
q -c "CREATE EXTENSION compatcrypt; CREATE EXTENSION pgcrypto;" \
  -c "CREATE TABLE rows96 AS SELECT i AS id, gen_random_bytes(96) AS payload FROM generate_series(1, $rows) AS i;" \
  -c "ALTER TABLE rows96 SET (parallel_workers = 2);" -c "VACUUM ANALYZE rows96;"
differ=$(q -c "SELECT count(*) FROM rows96 WHERE compatcrypt_decode(payload, '\\x$key16'::bytea)
                 IS DISTINCT FROM decrypt(payload, '\\x$key24'::bytea, '3des-cbc/pad:none')")
echo "rows: $rows of 96 bytes; rows where compatcrypt_decode and pgcrypto's decrypt differ: $differ"
[ "$differ" = 0 ] || exit 1

ours="compatcrypt_decode(payload, '\\x$key16'::bytea)"
theirs="decrypt(payload, '\\x$key24'::bytea, '3des-cbc/pad:none')"
# One query, timed by the server; the sum of lengths makes every row decode.
timed() { # expression, workers
  # Two workers do all the work with two; the leader only gathers.
  local settings="SET max_parallel_workers_per_gather = $2; SET parallel_setup_cost = 0; SET parallel_tuple_cost = 0;
                  SET parallel_leader_participation = off;"
  q -c "$settings" -c "EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF) SELECT sum(length($1)) FROM rows96" |
    awk -v want="$2" '/Workers Launched/ { launched = $3 } /Execution Time/ { t = $3 }
      END { if (want > 0 && launched != want) { print "workers launched: " launched > "/dev/stderr"; exit 1 } print t }'
}
declare -A times
for r in $(seq "$rounds"); do
  for w in 0 2; do
    for f in ours theirs; do
      expr=$ours
      [ $f = theirs ] && expr=$theirs
      times[$f.$w]+="$(timed "$expr" $w) "
    done
  done
done
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
echo "machine: $cpu, $(nproc) cores; $rounds rounds, alternating"
/usr/bin/python3 - "$rows" "${times[ours.0]}" "${times[theirs.0]}" "${times[ours.2]}" "${times[theirs.2]}" <<'PY'
import sys
rows = int(sys.argv[1])
t = {k: [float(x) for x in v.split()] for k, v in zip(["ours1", "pg1", "ours2", "pg2"], sys.argv[2:])}
rate = {k: [rows / (ms / 1000) for ms in v] for k, v in t.items()}
def span(v):
    return f"{min(v) / 1e6:.2f}-{max(v) / 1e6:.2f}"
def ratio(a, b):
    r = [x / y for x, y in zip(rate[a], rate[b])]
    return f"{min(r):.2f}-{max(r):.2f}"
print("| query | workers | M rows/s (range) | ratio (same round) |")
print("|---|---|---|---|")
print(f"| compatcrypt_decode | 1 | {span(rate['ours1'])} | {ratio('ours1', 'pg1')} x pgcrypto |")
print(f"| pgcrypto decrypt 3des-cbc/pad:none | 1 | {span(rate['pg1'])} | 1 |")
print(f"| compatcrypt_decode | 2 | {span(rate['ours2'])} | {ratio('ours2', 'ours1')} x own 1-worker; {ratio('ours2', 'pg2')} x pgcrypto |")
print(f"| pgcrypto decrypt 3des-cbc/pad:none | 2 | {span(rate['pg2'])} | {ratio('pg2', 'pg1')} x own 1-worker |")
PY
