#!/bin/sh
# The path of a machine that lacks a capability, taken on any machine: ctest
# in a Windows build tree with the probe told to answer that the capability
# is missing (COMPATCRYPT_MACHINE_LACKS, tools/machine-probe.sh). It passes
# when no test fails, every test that would run a Windows program is skipped
# with the forced reason, and the checks that run none still pass.
# Usage: tools/check-skip-path.sh BUILD-DIR CAPABILITY
set -eu
[ $# -eq 2 ] || { echo "usage: $0 BUILD-DIR CAPABILITY" >&2; exit 2; }
dir=$1
lacking=$2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
fail() {
  echo "check-skip-path.sh: $dir without $lacking: $*" >&2
  exit 1
}

COMPATCRYPT_MACHINE_LACKS=$lacking ctest --test-dir "$dir" -V -j "$(nproc)" >"$log" 2>&1 || {
  cat "$log"
  fail "ctest failed"
}
# The tests that run a Windows program: under the emulator, or standing for a
# whole test program that could not be listed ("N: Test command: ...").
needing=$(COMPATCRYPT_MACHINE_LACKS=$lacking ctest --test-dir "$dir" -N -V |
  sed -n 's/^\([0-9]*\): Test command: .*\(wine-run\.sh\|skipped\.sh\).*/\1/p')
[ -n "$needing" ] || fail "no test runs a Windows program"
for number in $needing; do
  grep -Eq "Test +#$number: .*\*\*\*Skipped" "$log" || fail "test #$number ran or failed"
  grep -q "^$number: .*(forced: COMPATCRYPT_MACHINE_LACKS=$lacking)" "$log" ||
    fail "test #$number was skipped without giving the forced reason"
done
for name in windows_dll_exports windows_dll_imports; do
  grep -Eq "Test *#[0-9]+: $name \.+ *Passed" "$log" || fail "$name did not pass"
done
echo "check-skip-path.sh: $dir without $lacking: $(echo $needing | wc -w) tests skipped with the reason," \
  "$(grep -Ec 'Test +#[0-9]+: .* Passed' "$log") passed, none failed"
