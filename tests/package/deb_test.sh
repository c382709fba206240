#!/bin/sh
# Makes the Debian packages of a build with `cpack -G DEB` and checks them:
#   - the packages, named libcompatcrypt<major>, libcompatcrypt-dev,
#     compatcrypt, and where the build has them python3-compatcrypt,
#     postgresql-<major>-compatcrypt and sqlite3-compatcrypt, <version>-1,
#     for this machine's architecture;
#   - each holds exactly its files, its copyright file, whose licence text
#     is the LICENSE's, its lintian overrides and its Debian changelog,
#     whose newest entry is the package's version; compressed files carry
#     no name or time;
#   - the control fields: section, the dependencies between the packages,
#     dependencies on system libraries found by dpkg-shlibdeps, a long
#     description under a summary line of the package's own;
#   - the runtime package's shlibs file and its ldconfig trigger (no
#     maintainer script);
#   - unpacked together into a staging directory, they make a tree whose
#     tool runs, which the consumer programs build against, through
#     find_package and pkg-config, and whose Python package Debian's
#     python3 imports, with the library found where the system's loader
#     would find it;
#   - as root only, installed for real with dpkg -i and purged after: what
#     only an installation shows (the maintainer scripts, the trigger).
# Nothing but that last step touches the machine, and it leaves it as it
# was; a copy of the library installed elsewhere (/usr/local) is ignored.
# The libraries go to /usr/<CMAKE_INSTALL_LIBDIR>: in a build configured
# with CMAKE_INSTALL_PREFIX=/usr that must be Debian's multiarch directory.
# Usage: deb_test.sh BUILD-DIR [PACKAGE-TEST-DIR]
#   PACKAGE-TEST-DIR  this directory (default: the script's own)
# shellcheck shell=dash source=common.sh
set -eu
build=$(readlink -f "$1")
here=${2:-$(dirname "$0")}
work=$(mktemp -d)
. "$here/common.sh"
begin_on_build
source_dir=$(cache_value "$build" compatcrypt_SOURCE_DIR)
install_prefix=$(cache_value "$build" CMAKE_INSTALL_PREFIX)
arch=$(dpkg --print-architecture)
deb_version=$version-1
runtime=libcompatcrypt$major

case $install_prefix in
  /usr | /usr/)
    multiarch=lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
    [ "$libdir" = "$multiarch" ] || fail "configured for /usr, yet the libraries go to $libdir, not $multiarch"
    ;;
  *) echo "note: $build is configured for $install_prefix; the packages use /usr/$libdir" ;;
esac

echo "== cpack -G DEB"
out=$work/packages
(cd "$build" && cpack -G DEB -B "$out") >"$work/cpack.log" 2>&1 || show_and_fail "$work/cpack.log" "cpack -G DEB"
(cd "$out" && ls -- *.deb) >"$work/debs.list" 2>/dev/null || true
# The database extensions' packages, where the build has them.
pg_major=
if [ "$(cache_value "$build" COMPATCRYPT_BUILD_SQL)" = ON ]; then
  pg_libdir=$(cache_value "$build" COMPATCRYPT_PG_PKGLIBDIR)
  pg_sharedir=$(cache_value "$build" COMPATCRYPT_PG_SHAREDIR)
  pg_major=$("$(cache_value "$build" COMPATCRYPT_PG_CONFIG)" --version | sed 's/^[^0-9]*\([0-9]*\).*/\1/')
fi
# The Python module's package, where the build has the module.
python_version=$(cache_value "$build" COMPATCRYPT_PYTHON_DEB_VERSION)
{
  printf '%s\n' "compatcrypt_${deb_version}_$arch.deb" "libcompatcrypt-dev_${deb_version}_$arch.deb" \
    "${runtime}_${deb_version}_$arch.deb"
  [ -z "$python_version" ] || printf '%s\n' "python3-compatcrypt_${deb_version}_$arch.deb"
  [ -z "$pg_major" ] ||
    printf '%s\n' "postgresql-$pg_major-compatcrypt_${deb_version}_$arch.deb" "sqlite3-compatcrypt_${deb_version}_$arch.deb"
} | LC_ALL=C sort >"$work/debs.expected"
LC_ALL=C sort "$work/debs.list" | diff -u "$work/debs.expected" - >"$work/debs.diff" ||
  show_and_fail "$work/debs.diff" "not the expected packages (-: missing, +: not expected)"

# deb_files DEB: the files and links DEB installs, without the leading
# "./", sorted.
deb_files() {
  dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sed -e 's|^\./||' | LC_ALL=C sort
}

# check_gzip FILE: compressed with -n: the header names no file and holds
# no time (bytes 3 to 7: the flags, then the time, all zero).
check_gzip() {
  [ "$(od -An -tx1 -j3 -N5 "$1" | tr -d ' \n')" = 0000000000 ] || fail "$1: compressed with a name or a time (not gzip -n)"
  gzip -t "$1" || fail "$1: not a good gzip file"
}

# field DEB NAME: a control field; continuation lines included.
field() {
  dpkg-deb -f "$1" "$2"
}

# expect_depends PACKAGE DEPENDS PATTERN...: each PATTERN (a shell pattern:
# "libc6 *" for any version of libc6) matches one of the comma-separated
# entries of DEPENDS.
expect_depends() {
  local package depends pattern entry found
  package=$1
  depends=$2
  shift 2
  for pattern in "$@"; do
    found=
    printf '%s\n' "$depends" | tr ',' '\n' | sed 's/^ *//' >"$work/depends"
    while IFS= read -r entry; do
      # shellcheck disable=SC2254 # the pattern is meant to match
      case $entry in $pattern) found=yes ;; esac
    done <"$work/depends"
    [ -n "$found" ] || fail "$package: Depends '$depends' has no entry like '$pattern'"
  done
}

# The licence text of a copyright file: the body of its "License: MIT"
# paragraphs, with Debian's " ." blank lines, in one line.
copyright_license() {
  awk 'body && /^ / { print; next } { body = 0 } /^License: MIT$/ { body = 1 }' "$1" |
    sed -e 's/^ //' -e 's/^\.$//' | tr -s '[:space:]' ' '
}
license_text=$(sed -n '/^Permission is hereby granted/,$p' "$source_dir/LICENSE" | tr -s '[:space:]' ' ')
license_holder=$(sed -n 's/^Copyright (c) //p' "$source_dir/LICENSE")
if [ -z "$license_text" ] || [ -z "$license_holder" ]; then
  fail "$source_dir/LICENSE: no MIT licence text"
fi

# check_package PACKAGE SECTION FILES: a package's name, version,
# architecture, section, files, copyright file, changelog and description.
check_package() {
  local deb copyright changelog line summary description
  deb=$out/$1_${deb_version}_$arch.deb
  [ "$(field "$deb" Package)" = "$1" ] || fail "$deb: Package is not $1"
  [ "$(field "$deb" Version)" = "$deb_version" ] || fail "$deb: Version is not $deb_version"
  [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$deb: Architecture is not $arch"
  [ "$(field "$deb" Section)" = "$2" ] || fail "$deb: Section is not $2"

  deb_files "$deb" >"$work/actual.list"
  printf '%s\n' "$3" "usr/$datarootdir/doc/$1/copyright" "usr/$datarootdir/doc/$1/changelog.Debian.gz" \
    "usr/$datarootdir/lintian/overrides/$1" | LC_ALL=C sort >"$work/expected.list"
  diff -u "$work/expected.list" "$work/actual.list" >"$work/files.diff" ||
    show_and_fail "$work/files.diff" "$1: not the expected files (-: missing, +: not expected)"

  changelog=$work/$1.changelog.gz
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/$datarootdir/doc/$1/changelog.Debian.gz" >"$changelog"
  check_gzip "$changelog"
  line=$(gzip -dc "$changelog" | head -n 1)
  case $line in
    "compatcrypt ($deb_version) "*) ;;
    *) fail "$1: the changelog's newest entry is '$line', not version $deb_version" ;;
  esac

  copyright=$work/$1.copyright
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/$datarootdir/doc/$1/copyright" >"$copyright"
  for line in 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
              'Upstream-Name: compatcrypt' 'Files: *' "Copyright: $license_holder" 'License: MIT'; do
    grep -qxF -- "$line" "$copyright" || fail "$1: copyright file has no line '$line'"
  done
  [ "$(copyright_license "$copyright")" = "$license_text" ] ||
    fail "$1: the licence in the copyright file is not the text of LICENSE"

  description=$(field "$deb" Description)
  summary=$(printf '%s\n' "$description" | head -n 1)
  [ -n "$summary" ] || fail "$1: no summary line"
  [ "$(printf '%s\n' "$description" | wc -l)" -gt 1 ] || fail "$1: no long description"
  printf '%s\n' "$description" | tr -s '[:space:]' ' ' | grep -q 'not for new designs' ||
    fail "$1: the long description does not say what the formats are not for"
  printf '%s\n' "$summary" >>"$work/summaries"
}

echo "== package contents and control fields"
check_package "$runtime" libs "usr/$libdir/libcompatcrypt.so.$major
usr/$libdir/libcompatcrypt.so.$version
usr/$libdir/libcompatcrypt-cxx.so.$major
usr/$libdir/libcompatcrypt-cxx.so.$version"
check_package libcompatcrypt-dev libdevel "usr/$includedir/compatcrypt.h
usr/$includedir/compatcrypt.hpp
usr/$includedir/compatcrypt_bind.h
usr/$libdir/libcompatcrypt.so
usr/$libdir/libcompatcrypt-cxx.so
usr/$libdir/cmake/compatcrypt/compatcryptConfig.cmake
usr/$libdir/cmake/compatcrypt/compatcryptConfigVersion.cmake
usr/$libdir/cmake/compatcrypt/compatcryptTargets.cmake
usr/$libdir/cmake/compatcrypt/compatcryptTargets-${config:-noconfig}.cmake
usr/$libdir/pkgconfig/compatcrypt.pc
usr/$libdir/pkgconfig/compatcrypt-cxx.pc
usr/$libdir/pkgconfig/compatcrypt-bind.pc"
check_package compatcrypt utils "usr/$bindir/compatcrypt
usr/$mandir/man1/compatcrypt.1.gz
usr/$datarootdir/bash-completion/completions/compatcrypt
usr/$datarootdir/zsh/vendor-completions/_compatcrypt"
if [ -n "$pg_major" ]; then
  check_package "postgresql-$pg_major-compatcrypt" database "${pg_libdir#/}/compatcrypt.so
${pg_sharedir#/}/extension/compatcrypt.control
${pg_sharedir#/}/extension/compatcrypt--1.0.sql
${pg_sharedir#/}/extension/compatcrypt--1.0--1.1.sql"
  check_package sqlite3-compatcrypt database "usr/$libdir/sqlite3/compatcrypt.so"
  expect_depends "postgresql-$pg_major-compatcrypt" \
    "$(field "$out/postgresql-$pg_major-compatcrypt_${deb_version}_$arch.deb" Depends)" \
    "$runtime (>= $version)" "postgresql-$pg_major" 'libc6 *'
  expect_depends sqlite3-compatcrypt "$(field "$out/sqlite3-compatcrypt_${deb_version}_$arch.deb" Depends)" \
    "$runtime (>= $version)" 'libc6 *'
fi
if [ -n "$python_version" ]; then
  python_dir=usr/lib/python3/dist-packages/compatcrypt
  python_tag=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  check_package python3-compatcrypt python "$python_dir/__init__.py
$python_dir/__init__.pyi
$python_dir/_compatcrypt$python_tag
$python_dir/_compatcrypt.pyi
$python_dir/dask.py
$python_dir/py.typed"
  # Debian's Python policy: no run path (the library is in a directory the
  # loader searches), byte-compiled on installation, cleaned before removal.
  python_deb=$out/python3-compatcrypt_${deb_version}_$arch.deb
  dpkg-deb -x "$python_deb" "$work/python-deb"
  for tag in RPATH RUNPATH; do
    path=$(dynamic_entry "$work/python-deb/$python_dir/_compatcrypt$python_tag" $tag)
    [ -z "$path" ] || fail "python3-compatcrypt: the extension has $tag $path"
  done
  dpkg-deb -I "$python_deb" postinst | grep -q 'py3compile -p python3-compatcrypt' ||
    fail "python3-compatcrypt: postinst does not byte-compile the modules"
  dpkg-deb -I "$python_deb" prerm | grep -q 'py3clean -p python3-compatcrypt' ||
    fail "python3-compatcrypt: prerm does not remove their byte code"
  next_minor=$((${python_version#*.} + 1))
  expect_depends python3-compatcrypt "$(field "$out/python3-compatcrypt_${deb_version}_$arch.deb" Depends)" \
    "$runtime (>= $version)" "python3 (>= $python_version~)" "python3 (<< ${python_version%%.*}.$next_minor)" \
    'libc6 *' 'libstdc++6 *'
fi
[ "$(LC_ALL=C sort -u "$work/summaries" | wc -l)" -eq "$(wc -l <"$work/debs.expected")" ] ||
  fail "the packages do not have summaries of their own"

runtime_deb=$out/${runtime}_${deb_version}_$arch.deb
runtime_depends=$(field "$runtime_deb" Depends)
expect_depends "$runtime" "$runtime_depends" 'libc6 *' 'libstdc++6 *'
case $runtime_depends in *libcompatcrypt*) fail "$runtime depends on itself: $runtime_depends" ;; esac
expect_depends libcompatcrypt-dev "$(field "$out/libcompatcrypt-dev_${deb_version}_$arch.deb" Depends)" \
  "$runtime (= $deb_version)"
expect_depends compatcrypt "$(field "$out/compatcrypt_${deb_version}_$arch.deb" Depends)" \
  "$runtime (>= $version)" 'libc6 *' 'libstdc++6 *'

# Other packages' dpkg-shlibdeps learn from shlibs which package holds
# each library; the dynamic loader's cache is refreshed by libc-bin's
# ldconfig trigger, not by scripts of the package.
dpkg-deb -I "$runtime_deb" shlibs | LC_ALL=C sort >"$work/shlibs"
printf '%s\n' "libcompatcrypt $major $runtime (>= $deb_version)" "libcompatcrypt-cxx $major $runtime (>= $deb_version)" |
  LC_ALL=C sort | diff -u - "$work/shlibs" >"$work/shlibs.diff" ||
  show_and_fail "$work/shlibs.diff" "$runtime: not the expected shlibs file"
[ "$(dpkg-deb -I "$runtime_deb" triggers 2>/dev/null | grep -v '^#')" = 'activate-noawait ldconfig' ] ||
  fail "$runtime: no triggers file activating ldconfig, and nothing else"
for script in preinst postinst prerm postrm; do
  if dpkg-deb -I "$runtime_deb" "$script" >/dev/null 2>&1; then
    fail "$runtime: has a $script; the ldconfig trigger is all it needs"
  fi
done

echo "== the unpacked packages"
root=$work/root
for deb in "$out"/*.deb; do
  dpkg-deb -x "$deb" "$root"
done
check_no_core "$root"
check_gzip "$root/usr/$mandir/man1/compatcrypt.1.gz"
check_libraries "$root/usr" "$libdir" "$version"
check_symbols "$root/usr/$libdir"
check_tool "$root/usr" "$libdir" "$bindir" "$version"
check_cmake_package "$root/usr" "$version" "$libdir"
check_pkg_config "$root/usr" "$libdir" "$version"
build_consumers "$root/usr" "$libdir" "$here/consumer"

# The packaged Python module, staged: Debian's python3, isolated (-I: no
# PYTHONPATH, no user site; -B: no byte code written into the tree),
# imports it from the staged dist-packages, and its extension, which has
# no run path, finds libcompatcrypt-cxx.so.1 where the system's loader
# would, here the staged library directory (LD_LIBRARY_PATH stands for the
# loader's cache, and is searched before it, so that a copy under
# /usr/local cannot stand in). It gives the digest of the C function of
# the staged libcompatcrypt.so.1.
if [ -n "$python_version" ]; then
  (cd / && LD_LIBRARY_PATH="$root/usr/$libdir" /usr/bin/python3 -I -B -c '
import ctypes, os, sys
packages, libdir = sys.argv[1:]
sys.path.insert(0, packages)
import compatcrypt
assert os.path.dirname(compatcrypt.__file__) == os.path.join(packages, "compatcrypt"), compatcrypt.__file__
loaded = {line.split()[-1] for line in open("/proc/self/maps") if "libcompatcrypt-cxx.so" in line}
assert loaded == {os.path.realpath(os.path.join(libdir, "libcompatcrypt-cxx.so.1"))}, loaded
lib = ctypes.CDLL(os.path.join(libdir, "libcompatcrypt.so.1"))
out, n = ctypes.create_string_buffer(20), ctypes.c_int32()
assert lib.MessageDigest(b"abc", 3, out, ctypes.byref(n), 1) == 1
assert compatcrypt.digest(b"abc") == out.raw[: n.value], "not the C function'"'"'s digest"
key = compatcrypt.Key.from_password("staged")
assert compatcrypt.decode(compatcrypt.encode(b"staged tree", key), key) == b"staged tree"
assert not os.path.exists(os.path.join(packages, "compatcrypt", "__pycache__"))
' "$root/usr/lib/python3/dist-packages" "$(readlink -f "$root/usr/$libdir")") >"$work/staged-python.out" 2>&1 ||
    show_and_fail "$work/staged-python.out" "the staged python3-compatcrypt"
fi

echo "deb_test: $(tr '\n' ' ' <"$work/debs.list")"

# Installed for real: dpkg -i of the runtime and Python packages. Only an
# installation runs what dpkg runs: the ldconfig trigger (the loader's
# cache lists the libraries after installation, and no longer after the
# purge) and the Python package's scripts (byte-compiled by postinst,
# nothing left after the purge); Debian's python3 then imports the module
# and gives the C library's digest. This changes the machine, so it runs
# only as root, where neither package is installed already, and removes
# both after.
[ -n "$python_version" ] || exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: dpkg -i of $runtime and python3-compatcrypt (the ldconfig trigger, py3compile and py3clean): needs root; every other check passed on the staged packages"
  exit 77
fi
for package in "$runtime" python3-compatcrypt; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    echo "SKIP: dpkg -i of $runtime and python3-compatcrypt: $package is installed on this machine already, and the test leaves it alone; every other check passed on the staged packages"
    exit 77
  fi
done
echo "== dpkg -i $runtime python3-compatcrypt"
trap 'dpkg --purge python3-compatcrypt "$runtime" >/dev/null 2>&1 || true; restore_manifests "$build"; rm -rf "$work"' EXIT
dpkg -i "$runtime_deb" "$out/python3-compatcrypt_${deb_version}_$arch.deb" >"$work/dpkg.log" 2>&1 ||
  show_and_fail "$work/dpkg.log" "dpkg -i $runtime python3-compatcrypt"
# in_loader_cache: the cache names the packaged libcompatcrypt-cxx (under
# /lib or /usr/lib: one directory where /usr is merged).
in_loader_cache() {
  local path packaged
  packaged=$(readlink -f "/usr/$libdir/libcompatcrypt-cxx.so.$major")
  for path in $(ldconfig -p | awk -v n="libcompatcrypt-cxx.so.$major" '$1 == n { print $NF }'); do
    [ "$(readlink -f "$path")" != "$packaged" ] || return 0
  done
  return 1
}
in_loader_cache || fail "after dpkg -i, the loader's cache does not list /usr/$libdir/libcompatcrypt-cxx.so.$major"
# The packaged copy, imported by its path: -I ignores PYTHONPATH and the
# user's site, and the package's directory goes first, so that a copy
# under /usr/local (a `cmake --install` there, say) cannot stand in for it.
# Which libcompatcrypt-cxx.so.1 the loader picks is the system's choice; a
# /usr/local one is reported, not failed.
(cd / && /usr/bin/python3 -I -c '
import sys
sys.path.insert(0, "/usr/lib/python3/dist-packages")
import compatcrypt
assert compatcrypt.__file__.startswith("/usr/lib/python3/dist-packages/compatcrypt/"), compatcrypt.__file__
loaded = {line.split()[-1] for line in open("/proc/self/maps") if "libcompatcrypt-cxx.so" in line}
if any(not path.startswith("/usr/lib/") for path in loaded):
    print("note: the loader chose", *loaded, file=sys.stderr)
print(compatcrypt.__version__, compatcrypt.digest(b"abc").hex())') >"$work/import.out" 2>"$work/import.err" || {
  cat "$work/import.err" >&2
  fail "/usr/bin/python3 -I: import compatcrypt after dpkg -i"
}
cat "$work/import.err"
ls /usr/lib/python3/dist-packages/compatcrypt/__pycache__/__init__.cpython-*.pyc \
  /usr/lib/python3/dist-packages/compatcrypt/__pycache__/dask.cpython-*.pyc >/dev/null 2>&1 ||
  fail "dpkg -i did not byte-compile the package's modules"
# The same digest as the C function of the package's own library.
expected=$(/usr/bin/python3 -c '
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
out, n = ctypes.create_string_buffer(20), ctypes.c_int32()
assert lib.MessageDigest(b"abc", 3, out, ctypes.byref(n), 1) == 1
print(out.raw[: n.value].hex())' "/usr/$libdir/libcompatcrypt.so.$major")
[ "$(cat "$work/import.out")" = "$version $expected" ] ||
  fail "after dpkg -i: '$(cat "$work/import.out")', expected '$version $expected'"
dpkg --purge python3-compatcrypt "$runtime" >"$work/purge.log" 2>&1 || show_and_fail "$work/purge.log" "dpkg --purge"
[ ! -e /usr/lib/python3/dist-packages/compatcrypt ] || fail "dpkg --purge left /usr/lib/python3/dist-packages/compatcrypt"
! in_loader_cache || fail "after dpkg --purge, the loader's cache still lists /usr/$libdir/libcompatcrypt-cxx.so.$major"
echo "deb_test: installed with dpkg -i, imported by /usr/bin/python3 ($(cat "$work/import.out")), purged"
