#!/bin/sh
# Every test's name, as ctest lists it, is the readable name its suite gives:
# no printed bytes of a parameter struct, nothing outside printable ASCII.
# Usage: test_names.sh CTEST BUILD-DIR
set -eu
names=$("$1" --test-dir "$2" -N | sed -n 's/^ *Test *#[0-9]*: //p')
[ -n "$names" ] || { echo "no tests listed"; exit 1; }
bad=$(printf '%s\n' "$names" | LC_ALL=C grep -E 'GetParam|object <|[^ -~]' || true)
if [ -n "$bad" ]; then
  echo "unreadable test names:"
  printf '%s\n' "$bad"
  exit 1
fi
echo "$(printf '%s\n' "$names" | wc -l) test names, all readable"
