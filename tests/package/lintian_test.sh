#!/bin/sh
# Debian's checker, lintian, on every package `cpack -G DEB` makes from a
# build: no error and no warning. A tag that is right for a package is
# overridden in the package itself, with its reason (packaging/
# lintian-overrides and packaging/<package>/lintian-overrides), as Debian
# ships overrides; an override that no longer matches anything fails too.
# Where lintian is not installed, the test is skipped with that reason.
# Usage: lintian_test.sh BUILD-DIR [PACKAGE-TEST-DIR]
# shellcheck shell=dash source=common.sh
set -eu
build=$(readlink -f "$1")
here=${2:-$(dirname "$0")}
if ! command -v lintian >/dev/null 2>&1; then
  echo "SKIP: lintian is not installed (Debian: lintian; tools/install-deps.sh installs it)"
  exit 77
fi
work=$(mktemp -d)
. "$here/common.sh"
begin_on_build

(cd "$build" && cpack -G DEB -B "$work/packages") >"$work/cpack.log" 2>&1 || show_and_fail "$work/cpack.log" "cpack -G DEB"
set -- --fail-on error,warning --display-info --show-overrides --tag-display-limit 0
# A build configured for a prefix other than /usr puts its .pc files in
# /usr/lib/pkgconfig rather than Debian's multiarch directory, which
# lintian rightly reports; that tree's packages are checked for everything
# else. (Configured with -DCMAKE_INSTALL_PREFIX=/usr, nothing is left out.)
prefix=$(cache_value "$build" CMAKE_INSTALL_PREFIX)
case $prefix in
  /usr | /usr/) ;;
  *)
    echo "note: $build is configured for $prefix, not /usr: pkg-config-unavailable-for-cross-compilation not checked"
    set -- "$@" --suppress-tags pkg-config-unavailable-for-cross-compilation
    ;;
esac
lintian --version
# One run for all the packages, showing the overrides used with their
# reasons. lintian exits with 2 for a tag at or above --fail-on, and counts
# the overridden tags it shows among them: the verdict is read from its
# lines (E: error, W: warning; O: overridden), and any other status (1: it
# could not check) fails.
status=0
lintian "$@" "$work"/packages/*.deb >"$work/lintian.out" 2>&1 || status=$?
grep -v -e '^running with root privileges' "$work/lintian.out" || true
[ "$status" -eq 0 ] || [ "$status" -eq 2 ] || fail "lintian could not check the packages (exit status $status)"
failed=
for deb in "$work"/packages/*.deb; do
  package=$(dpkg-deb -f "$deb" Package)
  # An error, a warning, or an override whose cause is gone.
  if grep -q -e "^[EW]: ${package}[: ]" -e "^.: ${package}[: ].*unused-override" "$work/lintian.out"; then
    failed="$failed $package"
    echo "$package: FAILED"
  else
    echo "$package: no error, no warning"
  fi
done
[ -z "$failed" ] || fail "lintian:$failed"
echo "lintian_test: every package passes lintian with no error and no warning"
