#!/bin/sh
# The constant-time check built with MemorySanitizer, run natively on every
# engine this CPU runs. First the controls, each of which must be reported:
# a secret branch and a secret table index in the check's own code, then the
# same two inside each engine (the hooks of src/support/taint_check.h, which
# exist in this build only), with that engine's source on the report's
# stack. Then the check itself, of which nothing may be reported.
# Usage: run_native_check.sh PROGRAM [LLVM-SYMBOLIZER]
set -u
program=$1
[ -n "${2:-}" ] && export MSAN_SYMBOLIZER_PATH="$2"
report='WARNING: MemorySanitizer: use-of-uninitialized-value'

log=$(mktemp)
trap 'rm -f "$log"' EXIT
blind() {
  cat "$log"
  echo "control $1: not reported as it must be ($2); the check is blind there, nothing below can be trusted"
  exit 1
}

MSAN_OPTIONS=halt_on_error=0 "$program" --control >"$log" 2>&1
[ "$(grep -c "$report" "$log")" -ge 2 ] || blind "in the check" "two reports wanted"
grep -A3 "$report" "$log" | grep -q 'ControlSecretBranch' || blind "in the check" "secret branch"
grep -A3 "$report" "$log" | grep -q 'ControlSecretIndex' || blind "in the check" "secret index"
echo "control in the check: the secret branch and the secret index are both reported"

routes=$("$program" --engine-controls) || { echo "cannot list the engines' controls"; exit 1; }
count=0
while read -r route file; do
  for kind in branch index; do
    # The first report stops the program: it must be the hook's, inside the
    # engine (anything reported before it would be a fault of its own).
    MSAN_OPTIONS=halt_on_error=1 "$program" --engine-control "$kind" "$route" >"$log" 2>&1
    grep -q "$report" "$log" || blind "$kind $route" "no report"
    frames=$(sed -n "/$report/,/SUMMARY/p" "$log")
    if ! echo "$frames" | grep -m1 '#0 ' | grep -q 'taint::Control'; then
      cat "$log"
      echo "control $kind $route: the engine is reported before its hook (above): a report of its own"
      exit 1
    fi
    echo "$frames" | grep -q "/$file:" || blind "$kind $route" "$file not on the stack"
    count=$((count + 1))
  done
done <<EOF_ROUTES
$routes
EOF_ROUTES
echo "controls in the engines: $count of $count reported, each inside its engine:"
echo "$routes" | sed 's/^/  /'

MSAN_OPTIONS=halt_on_error=0 "$program" >"$log" 2>&1
status=$?
cat "$log"
reports=$(grep -c "$report" "$log")
if [ "$status" -ne 0 ] || [ "$reports" -ne 0 ]; then
  echo "constant-time check failed (exit status $status, $reports reports)"
  echo "reports by site (count, innermost frame):"
  grep -A2 "$report" "$log" | sed -n 's/^ *#0 0x[0-9a-f]* in //p' | sort | uniq -c | sort -rn | head -40
  exit 1
fi
echo "constant-time check passed: nothing reported"
