#!/bin/sh
# The constant-time check under valgrind memcheck. First the control: a
# table lookup and a branch on a secret byte, both of which memcheck must
# report (else the marking, or valgrind, is not working). Then the library,
# of which memcheck must report nothing.
# Usage: run_constant_time_check.sh VALGRIND PROGRAM
set -u
valgrind=$1
program=$2
flagged=99  # valgrind's exit status when it has reported an error

memcheck() {
  "$valgrind" --tool=memcheck --quiet --error-exitcode=$flagged --track-origins=yes \
    --expensive-definedness-checks=yes --leak-check=no --num-callers=12 \
    "$@"
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
memcheck "$program" --control >"$log" 2>&1
status=$?
missing=""
grep -q 'Conditional jump or move depends on uninitialised value' "$log" || missing="$missing branch"
grep -q 'ControlSecretBranch' "$log" || missing="$missing branch-site"
grep -q 'Use of uninitialised value of size' "$log" || missing="$missing address"
grep -q 'ControlSecretIndex' "$log" || missing="$missing address-site"
if [ "$status" -ne "$flagged" ] || [ -n "$missing" ]; then
  cat "$log"
  echo "control: exit status $status (want $flagged), not reported:${missing:- -}"
  echo "the harness is blind: nothing below can be trusted"
  exit 1
fi
echo "control: the secret branch and the secret address are both reported"

memcheck "$program" >"$log" 2>&1
status=$?
cat "$log"
if [ "$status" -ne 0 ]; then
  echo "constant-time check failed (exit status $status; $flagged: memcheck reports above)"
  echo "reports by site (count, innermost frame):"
  grep -A1 -E '^==[0-9]+== (Conditional jump|Use of uninitialised|Syscall param|Invalid)' "$log" |
    sed -n 's/^==[0-9]*== *at 0x[0-9A-Fa-f]*: //p' | sort | uniq -c | sort -rn
  exit 1
fi
echo "constant-time check passed"
