#!/bin/sh
# The reasons of the tests a ctest run skipped, one line per reason with
# the tests it covers: "REASON (N tests: a, b, ...)". Read from the run's
# JUnit file (ctest --output-junit), which keeps every test's output
# whatever else runs ctest in that tree meanwhile. A reason is what the test
# said: a line "SKIP: ...", "skipped: ..." or "... cannot run here: ..." (Wine's
# runner) of a script, or the message after a GoogleTest "Skipped" line.
# Usage: tools/skip-reasons.sh JUNIT-FILE
set -eu
[ $# -eq 1 ] || { echo "usage: $0 JUNIT-FILE" >&2; exit 2; }
[ -f "$1" ] || exit 0
/usr/bin/python3 - "$1" <<'PY'
import re
import sys
import xml.etree.ElementTree as tree

reasons = {}
for case in tree.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.find("skipped") is None:
        continue
    lines = (case.findtext("system-out") or "").splitlines()
    reason = "no reason given"
    for i, line in enumerate(lines):
        found = re.match(r"(?:SKIP|skipped): (.*)", line) or re.search(r"cannot run here: (.*)", line)
        if found:
            reason = found.group(1)
            break
        if line.endswith(": Skipped") and i + 1 < len(lines) and lines[i + 1].strip():
            reason = lines[i + 1].strip()
            break
    reasons.setdefault(reason, []).append(case.get("name"))
for reason, names in reasons.items():
    listed = ", ".join(names)
    if len(listed) > 120:
        listed = listed[:117] + "..."
    print(f"{reason} ({len(names)} {'test' if len(names) == 1 else 'tests'}: {listed})")
PY
