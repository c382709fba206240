#!/bin/sh
# Runs a program and passes only if it exits 0 AND prints the expected line:
# a Wine that cannot start a program may exit 0 without running it. Status
# 77 (this machine cannot run the program, and the runner said why) passes
# through: the test counts it as skipped.
# Usage: run_checked.sh EXPECTED-LINE COMMAND [ARGS...]
expected=$1
shift
output=$("$@")
status=$?
output=$(printf '%s\n' "$output" | tr -d '\r')
printf '%s\n' "$output"
[ "$status" -eq 77 ] && exit 77
if [ "$status" -ne 0 ]; then
  echo "exit status $status"
  exit 1
fi
printf '%s\n' "$output" | grep -Fqx "$expected" || { echo "missing line: $expected"; exit 1; }
