#!/bin/sh
# The DES round functions of a built library hold no conditional jump: a
# branch there could only be on key or data bits. This checks the code the
# compiler made for each target, including the ones the valgrind check
# cannot run (a 32-bit build, where a 64-bit shift by a variable count
# becomes a branch on the count).
# Usage: branch_free_rounds.sh OBJDUMP LIBRARY
set -eu
listing=$("$1" -d --no-show-raw-insn "$2" | awk '
  /^[0-9a-f]+ <.*>:$/ { inside = ($2 ~ /Feistel|bitslice5Round/); if (inside) { functions++; print "function " $2 } next }
  inside && $0 ~ /\tj[a-z]+ / && $0 !~ /\tjmp / { print "branch " $0 }
  END { print "count " functions + 0 }')
count=$(printf '%s\n' "$listing" | sed -n 's/^count //p')
if [ "$count" -lt 2 ]; then
  echo "found $count round functions in $2: the check would prove nothing"
  exit 1
fi
if printf '%s\n' "$listing" | grep -q '^branch '; then
  printf '%s\n' "$listing" | grep '^function \|^branch '
  exit 1
fi
echo "$count round functions, no conditional jump"
