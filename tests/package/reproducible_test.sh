#!/bin/sh
# Two builds of one commit give the same Debian packages, byte for byte:
#   - the first: the packages of the build under test;
#   - the second: a copy of the source tree in another directory, built
#     later in a build directory of its own with only what the packages
#     need (no tests, benchmarks, fuzzers or Node.js addon), same compilers
#     and options;
#   - both with the SOURCE_DATE_EPOCH of the source (its last commit), as
#     anyone checking a package against its source builds it; the second
#     packaged under umask 077;
#   - no file of any package names a directory of either build (source or
#     build tree: run paths, __FILE__, debug paths).
# Prints the SHA-256 of each package from both builds.
# Usage: reproducible_test.sh BUILD-DIR SOURCE-DIR [PACKAGE-TEST-DIR]
# shellcheck shell=dash source=common.sh
set -eu
build=$(readlink -f "$1")
source_dir=$(readlink -f "$2")
here=${3:-$(dirname "$0")}
work=$(mktemp -d)
. "$here/common.sh"
begin_on_build

SOURCE_DATE_EPOCH=$(sh "$source_dir/packaging/source-date-epoch.sh" "$source_dir")
export SOURCE_DATE_EPOCH
echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"

echo "== first build: the packages of $build"
(cd "$build" && cpack -G DEB -B "$work/first") >"$work/cpack-first.log" 2>&1 ||
  show_and_fail "$work/cpack-first.log" "cpack -G DEB in $build"

echo "== second build: a copy of the source, built in another directory"
copy=$work/source
mkdir "$copy"
# The files a clone would hold, as they are now (changes not yet committed
# included, so that both builds have the same source), with the time of
# the copy as a clone's have (tar -m), not the source's; without git, the
# tree less its build directories.
top=$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null || true)
if [ -n "$top" ] && [ "$(readlink -f "$top")" = "$source_dir" ]; then
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xmf - -C "$copy"
else
  (cd "$source_dir" && tar --exclude='./build*' --exclude=./.git -cf - .) | tar -xmf - -C "$copy"
fi
second=$work/build
set -- -DCOMPATCRYPT_BUILD_TESTS=OFF -DCOMPATCRYPT_BUILD_BENCHMARKS=OFF -DCOMPATCRYPT_BUILD_FUZZERS=OFF \
  -DCOMPATCRYPT_BUILD_NODE=OFF
for name in CMAKE_BUILD_TYPE CMAKE_INSTALL_PREFIX CMAKE_C_COMPILER CMAKE_CXX_COMPILER CMAKE_C_FLAGS CMAKE_CXX_FLAGS \
  COMPATCRYPT_BUILD_TOOLS COMPATCRYPT_BUILD_PYTHON COMPATCRYPT_BUILD_SQL COMPATCRYPT_PG_CONFIG Python3_EXECUTABLE; do
  if grep -q "^$name:" "$build/CMakeCache.txt"; then
    set -- "$@" "-D$name=$(cache_value "$build" "$name")"
  fi
done
cmake -S "$copy" -B "$second" -G "$(cache_value "$build" CMAKE_GENERATOR)" "$@" >"$work/configure.log" 2>&1 ||
  show_and_fail "$work/configure.log" "configuring the second build"
cmake --build "$second" >"$work/build.log" 2>&1 || show_and_fail "$work/build.log" "the second build"
# Packaged by a user whose umask lets nobody else read: the packages'
# modes must not depend on it.
(umask 077 && cd "$second" && cpack -G DEB -B "$work/second") >"$work/cpack-second.log" 2>&1 ||
  show_and_fail "$work/cpack-second.log" "cpack -G DEB in the second build"

(cd "$work/first" && ls -- *.deb) >"$work/first.list"
(cd "$work/second" && ls -- *.deb) >"$work/second.list"
diff -u "$work/first.list" "$work/second.list" >"$work/list.diff" ||
  show_and_fail "$work/list.diff" "the two builds made different packages (-: first, +: second)"
[ -s "$work/first.list" ] || fail "cpack made no package"

# explain DEB: where the two builds of DEB differ: control, members' list
# (times, owners, modes), and each file whose bytes differ.
explain() {
  local a b
  a=$work/explain/first/$1
  b=$work/explain/second/$1
  mkdir -p "$a" "$b"
  dpkg-deb -R "$work/first/$1" "$a"
  dpkg-deb -R "$work/second/$1" "$b"
  echo "-- $1: members (-: first, +: second)"
  diff -u "$work/first.members" "$work/second.members" || true
  echo "-- $1: files whose bytes differ"
  diff -rq "$a" "$b" || true
}

echo "== the two builds"
differ=
while read -r deb; do
  first=$(sha256sum <"$work/first/$deb" | cut -d' ' -f1)
  second=$(sha256sum <"$work/second/$deb" | cut -d' ' -f1)
  echo "$first $second $deb"
  if [ "$first" != "$second" ]; then
    differ="$differ $deb"
    dpkg-deb -c "$work/first/$deb" >"$work/first.members"
    dpkg-deb -c "$work/second/$deb" >"$work/second.members"
    explain "$deb" >&2
  fi
done <"$work/first.list"

echo "== no build directory named in any package"
for which in first second; do
  mkdir -p "$work/unpacked/$which"
  while read -r deb; do
    dpkg-deb -R "$work/$which/$deb" "$work/unpacked/$which/$deb"
  done <"$work/$which.list"
done
found=$(grep -a -r -l -F -e "$build" -e "$source_dir" "$work/unpacked/first" || true)
found=$found$(grep -a -r -l -F -e "$second" -e "$copy" -e "$work" "$work/unpacked/second" || true)
[ -z "$found" ] || fail "files naming a build's directory: $found"

[ -z "$differ" ] || fail "the two builds differ:$differ"
echo "reproducible_test: $(wc -l <"$work/first.list") packages identical in both builds"
