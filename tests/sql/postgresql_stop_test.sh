#!/usr/bin/env bash
# The PostgreSQL extension's long calls against a server of the suite's
# own: statement_timeout, pg_cancel_backend and pg_terminate_backend stop
# the file digest of /dev/zero and of a 20 GiB sparse file and the encoding
# of a 300 MB value; a FIFO without a writer is an error at once; past 4 GiB
# the file digest equals FileDigest's (the byte count wraps); and a fast
# shutdown stops the server while a /dev/zero digest runs.
#
# Each stop is waited for up to 5 s, so that a loaded machine does not fail
# the suite; the measured figures are printed against the goals (0.5 s past
# the deadline or the cancel, 50 ms for the FIFO).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/pg_server.sh"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
now() { date +%s.%N; }
seconds() { /usr/bin/python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.3f}')" "$1" "$2"; }
within() { /usr/bin/python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) <= float(sys.argv[2]) else 1)" "$1" "$2"; }
goal() { # measured, goal: a word for the report
  if within "$1" "$2"; then echo "within the ${2} s goal"; else echo "OVER the ${2} s goal"; fi
}
q() { "${PSQL[@]}" -At "$@"; }

# 20 GiB of holes, and 4 GiB + 29 bytes of holes with 100 bytes of data
# after them; both read as zeros but for that tail.
truncate -s 20G "$PG_WORK/sparse20g"
truncate -s $(((1 << 32) + 29)) "$PG_WORK/wrap"
head -c 100 /dev/urandom >>"$PG_WORK/wrap"
mkfifo -m 0644 "$PG_WORK/fifo"
chmod a+r "$PG_WORK/sparse20g" "$PG_WORK/wrap"
q -c "CREATE EXTENSION compatcrypt" >/dev/null

key="'\x0123456789abcdeffedcba9876543210'::bytea"
# Each case runs in a DO block that first makes its input (the 300 MB value:
# repeat() and the copies take seconds on a small machine, and check for
# interrupts themselves), says "working" with the seconds that took, then
# does the work, and says when it was stopped: every stop below is one that
# found the extension working. With a generic plan the 300 MB variable
# reaches the function as it is; a custom plan would first copy it into a
# constant (and fold the immutable call into the planning), a second or so
# that is the server's own and would come between "working" and the work.
declare -A input=([dev_zero]="''" [sparse_20g]="''"
  [encode_300mb]="convert_to(repeat(repeat('a', 1024 * 1024), 300), 'UTF8')")
declare -A work=(
  [dev_zero]="compatcrypt_file_digest('/dev/zero', 0)"
  [sparse_20g]="compatcrypt_file_digest('$PG_WORK/sparse20g', 0)"
  [encode_300mb]="length(compatcrypt_encode(v, $key))"
)
cases=(dev_zero sparse_20g encode_300mb)
block() { # case
  cat <<SQL
DO \$\$
DECLARE
  started timestamptz := statement_timestamp();
  v bytea;
  began float8;
BEGIN
  v := ${input[$1]};
  began := extract(epoch FROM clock_timestamp() - started);
  RAISE NOTICE 'working %', began;
  BEGIN
    PERFORM ${work[$1]};
    RAISE NOTICE 'finished';
  EXCEPTION WHEN query_canceled THEN
    RAISE NOTICE 'stopped % % % %', SQLSTATE, began, extract(epoch FROM clock_timestamp() - started),
      extract(epoch FROM clock_timestamp());
  END;
EXCEPTION WHEN query_canceled THEN
  RAISE NOTICE 'early %', extract(epoch FROM clock_timestamp() - started);
END \$\$
SQL
}

# statement_timeout: the error's time measured in the server from the
# statement's start. The deadline is 1 s after the input is made (the first
# time 1 s more than it took once on its own, then 3 s more each time it
# was not made in time).
for c in "${cases[@]}"; do
  made=$(q -c "DO \$\$ DECLARE started timestamptz := clock_timestamp(); v bytea := ${input[$c]};
               BEGIN RAISE NOTICE '%', extract(epoch FROM clock_timestamp() - started); END \$\$" 2>&1 |
         grep -o '[0-9.]*$')
  t=$(/usr/bin/python3 -c "import math, sys; print(math.ceil(float(sys.argv[1])) + 1)" "$made")
  for attempt in 1 2 3; do
    out=$(timeout 60 "${PSQL[@]}" -At -c "SET plan_cache_mode = force_generic_plan" \
      -c "SET statement_timeout = '${t}s'" -c "$(block "$c")" 2>&1 || true)
    if grep -q 'NOTICE:  early' <<<"$out"; then
      t=$((t + 3))
      [ "$attempt" -lt 3 ] || fail "statement_timeout on $c: the input was never made before the deadline"
      continue
    fi
    read -r _ word code began elapsed _ <<<"$(grep -o 'NOTICE:  stopped .*' <<<"$out" || echo "NOTICE: none")"
    if [ "$word" != stopped ]; then
      fail "statement_timeout ${t} s on $c: $out"
      break
    fi
    late=$(seconds "$t" "$elapsed")
    echo "statement_timeout $t s, $c (input made in $began s): $code after $elapsed s, $late s past the deadline ($(goal "$late" 0.5))"
    within "$late" 5 || fail "statement_timeout on $c: stopped $late s past the deadline"
    break
  done
done

# pg_cancel_backend and pg_terminate_backend from another session, 0.3 s
# after the block says it is working: from the moment the server has sent
# the signal (its clock, which is the machine's) to the end of the client's
# wait.
stop_from_outside() { # case, function, tag
  local c=$1 signal=$2 tag="compatcrypt-stop-$3" pid client watchdog t0 t1 elapsed said
:>"$PG_WORK/$tag.out"
  timeout 60 "${PSQL[@]}" -At -c "SELECT pg_backend_pid()" -c "SET plan_cache_mode = force_generic_plan" \
    -c "$(block "$c")" >"$PG_WORK/$tag.out" 2>&1 &
  client=$!
  for _ in $(seq 600); do
    ! grep -q 'NOTICE:  working' "$PG_WORK/$tag.out" || break
    sleep 0.05
  done
  pid=$(head -n 1 "$PG_WORK/$tag.out")
  if ! grep -q 'NOTICE:  working' "$PG_WORK/$tag.out"; then
    fail "$signal on $c: the block never said it was working: $(cat "$PG_WORK/$tag.out")"
    kill "$client" 2>/dev/null || true
    return
  fi
  sleep 0.3
  # Bounded: past 5 s the client is ended and the case fails.
  (sleep 5 && kill "$client" 2>/dev/null) &
  watchdog=$!
  t0=$(q -c "SELECT extract(epoch FROM clock_timestamp()) FROM (SELECT $signal($pid)) AS sent")
  wait "$client" || true
  t1=$(now)
  if ! kill "$watchdog" 2>/dev/null; then
    fail "$signal on $c: still running 5 s after the signal"
    q -c "SELECT pg_terminate_backend($pid)" >/dev/null
    return
  fi
  wait "$watchdog" 2>/dev/null || true
  elapsed=$(seconds "$t0" "$t1")
  said=$(grep -m1 -o 'NOTICE:  stopped [0-9A-Z]*\|FATAL: .*' "$PG_WORK/$tag.out" || true)
  # Where the block caught the cancel, its clock says when: the stop itself,
  # without the client's part.
  local caught in_server=""
  caught=$(grep -o 'NOTICE:  stopped .*' "$PG_WORK/$tag.out" | awk '{ print $NF }' || true)
  [ -z "$caught" ] || in_server=", in the server $(seconds "$t0" "$caught") s"
  echo "$signal, $c: stopped $elapsed s after the signal$in_server ($(goal "$elapsed" 0.5)): $said"
  case $signal in
    pg_cancel_backend) grep -q 'NOTICE:  stopped 57014' "$PG_WORK/$tag.out" ||
      fail "$signal on $c: $(cat "$PG_WORK/$tag.out")" ;;
    pg_terminate_backend) grep -q 'terminating connection due to administrator command' "$PG_WORK/$tag.out" ||
      fail "$signal on $c: $(cat "$PG_WORK/$tag.out")" ;;
  esac
}
n=0
for c in "${cases[@]}"; do
  stop_from_outside "$c" pg_cancel_backend $((n += 1))
done
stop_from_outside dev_zero pg_terminate_backend $((n += 1))
# The server and its other sessions go on.
[ "$(q -c "SELECT compatcrypt_file_digest('/dev/null', 0) = compatcrypt_digest('')")" = t ] ||
  fail "the server does not answer after the stops"

# A FIFO without a writer: an error at once, timed in the server.
out=$(timeout 10 "${PSQL[@]}" -At -c "
  DO \$\$
  DECLARE started timestamptz := clock_timestamp();
  BEGIN
    PERFORM compatcrypt_file_digest('$PG_WORK/fifo', 0);
    RAISE NOTICE 'finished';
  EXCEPTION WHEN others THEN
    RAISE NOTICE 'refused % %', SQLSTATE, extract(epoch FROM clock_timestamp() - started);
  END \$\$" 2>&1 || echo "NOTICE: timed out")
read -r _ word code elapsed <<<"$(grep -o 'NOTICE: .*' <<<"$out" || echo "NOTICE: none")"
if [ "$word" = refused ] && [ "$code" = 42809 ]; then
  echo "FIFO without a writer: $code after $(/usr/bin/python3 -c "print(f'{float(\"$elapsed\") * 1000:.3f}')") ms ($(goal "$elapsed" 0.05))"
  within "$elapsed" 5 || fail "the FIFO took $elapsed s"
else
  fail "FIFO without a writer: $out"
fi

# Past 4 GiB: the digest's 32-bit byte count wraps, as FileDigest's does.
want=$("$ORACLE" file "$PG_WORK/wrap" 0)
want_from=$("$ORACLE" file "$PG_WORK/wrap" 1000)
got=$(q -c "SELECT encode(compatcrypt_file_digest('$PG_WORK/wrap', 0), 'hex')")
got_from=$(q -c "SELECT encode(compatcrypt_file_digest('$PG_WORK/wrap', 1000), 'hex')")
if [ "$got" = "$want" ] && [ "$got_from" = "$want_from" ]; then
  echo "4 GiB + 129 bytes: the file digest equals FileDigest's, from offset 0 and 1000"
else
  fail "4 GiB + 129 bytes: $got and $got_from, FileDigest gives $want and $want_from"
fi

# A fast shutdown while a /dev/zero digest runs: the server stops.
:>"$PG_WORK/shutdown.out"
timeout 20 "${PSQL[@]}" -At -c "$(block dev_zero)" >"$PG_WORK/shutdown.out" 2>&1 &
client=$!
for _ in $(seq 100); do
  ! grep -q 'NOTICE:  working' "$PG_WORK/shutdown.out" || break
  sleep 0.05
done
sleep 0.3
t0=$(now)
if "${PG_RUN_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_WORK/data" -m fast -w -t 5 stop >"$PG_WORK/stop.out" 2>&1; then
  elapsed=$(seconds "$t0" "$(now)")
  echo "pg_ctl stop -m fast during a /dev/zero digest: stopped in $elapsed s"
else
  fail "pg_ctl stop -m fast during a /dev/zero digest: $(cat "$PG_WORK/stop.out")"
fi
wait "$client" || true

if [ "$failures" -gt 0 ]; then
  echo "FAIL: $failures case(s)"
  exit 1
fi
echo "PASS: every long call stopped, the FIFO was refused at once"
