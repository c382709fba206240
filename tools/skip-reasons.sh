#!/bin/sh
# The reasons of the tests ctest skipped in a build tree's last run, one
# line per reason with the tests it covers: "REASON (N tests: a, b, ...)".
# A reason is what the test said: a line "SKIP: ..." or "skipped: ..." of a
# script, or the message after a GoogleTest "Skipped" line.
# Usage: tools/skip-reasons.sh BUILD-DIR CTEST-OUTPUT
set -eu
[ $# -eq 2 ] || { echo "usage: $0 BUILD-DIR CTEST-OUTPUT" >&2; exit 2; }
log=$1/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$2" >"$log.skipped" || true
awk -v skippedFile="$log.skipped" '
  BEGIN { while ((getline name < skippedFile) > 0) skipped[name] = 1 }
  /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); inOutput = 0; reason = ""; next }
  /^Output:$/ { inOutput = 1; afterSkip = 0; next }
  /^<end of output>$/ {
    if (name in skipped) {
      if (reason == "") reason = "no reason given"
      count[reason]++
      tests[reason] = tests[reason] (count[reason] > 1 ? ", " : "") name
    }
    inOutput = 0; next
  }
  inOutput && reason == "" {
    if (afterSkip && $0 != "") { reason = $0; next }
    if ($0 ~ /^(SKIP|skipped): /) { reason = $0; sub(/^(SKIP|skipped): /, "", reason); next }
    if ($0 ~ /: Skipped$/) afterSkip = 1
  }
  END {
    for (r in count) {
      list = tests[r]
      if (length(list) > 120) list = substr(list, 1, 117) "..."
      printf "%s (%d %s: %s)\n", r, count[r], count[r] == 1 ? "test" : "tests", list
    }
  }
' "$log"
rm -f "$log.skipped"
