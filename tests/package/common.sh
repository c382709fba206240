# Checks on an installed compatcrypt tree, shared by package_test.sh
# (a `cmake --install` tree) and deb_test.sh (the Debian packages unpacked).
# A tree is PREFIX with its libraries in PREFIX/LIBDIR. Sourced, not run;
# the caller sets `work` to a scratch directory of its own. Needs a shell
# with `local` (dash, bash).
# shellcheck shell=dash disable=SC2154 # `work` comes from the caller

: "${work:?set work to a scratch directory before sourcing common.sh}"

# save_manifests BUILD, restore_manifests BUILD: `cmake --install` and
# cpack write the build tree's install_manifest*.txt, which a user may keep
# to uninstall what they installed from that tree. The tests put the
# manifests back as they were and remove the ones they made.
save_manifests() {
  mkdir -p "$work/manifests"
  for manifest in "$1"/install_manifest*.txt; do
    [ ! -e "$manifest" ] || cp -p "$manifest" "$work/manifests/"
  done
}
restore_manifests() {
  [ -d "$work/manifests" ] || return 0
  for manifest in "$1"/install_manifest*.txt; do
    [ ! -e "$manifest" ] || rm -f "$manifest"
  done
  for manifest in "$work"/manifests/install_manifest*.txt; do
    [ ! -e "$manifest" ] || cp -p "$manifest" "$1/"
  done
}

# begin_on_build: the start of every package test on the build tree
# `$build`: the scratch directory is removed and the manifests put back on
# every way out, and the tree's layout is read.
begin_on_build() {
  trap 'restore_manifests "$build"; rm -rf "$work"' EXIT
  save_manifests "$build"
  read_layout "$build"
}

CC=${CC:-cc}
CXX=${CXX:-c++}
warnings="-Wall -Wextra -Werror"

# Whatever is checked must load from the tree itself.
unset LD_LIBRARY_PATH

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# show_and_fail LOG MESSAGE
show_and_fail() {
  cat "$1" >&2
  fail "$2"
}

# cache_value BUILD-DIR NAME: NAME's value in BUILD-DIR/CMakeCache.txt.
cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

# read_layout BUILD-DIR: the version and the installation directories the
# build was configured with, into version, major, config, libdir, bindir,
# includedir, datarootdir, mandir and docdir.
read_layout() {
  [ -f "$1/CMakeCache.txt" ] || fail "$1 is not a CMake build directory"
  version=$(cache_value "$1" CMAKE_PROJECT_VERSION)
  major=${version%%.*}
  config=$(cache_value "$1" CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
  libdir=$(cache_value "$1" CMAKE_INSTALL_LIBDIR)
  bindir=$(cache_value "$1" CMAKE_INSTALL_BINDIR)
  includedir=$(cache_value "$1" CMAKE_INSTALL_INCLUDEDIR)
  datarootdir=$(cache_value "$1" CMAKE_INSTALL_DATAROOTDIR)
  mandir=$(cache_value "$1" CMAKE_INSTALL_MANDIR)
  mandir=${mandir:-$datarootdir/man}
  docdir=$(cache_value "$1" CMAKE_INSTALL_DOCDIR)
  docdir=${docdir:-$datarootdir/doc/compatcrypt}
  # The Python package's directory under the prefix, set only where the
  # module is built, the interpreter and its extension-module suffix.
  pythondir=
  if [ "$(cache_value "$1" COMPATCRYPT_BUILD_PYTHON)" = ON ]; then
    pythondir=$(cache_value "$1" COMPATCRYPT_PYTHON_INSTALL_DIR)
  fi
  python=$(cache_value "$1" Python3_EXECUTABLE)
  python_suffix=
  if [ -n "$pythondir" ]; then
    python_suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  fi
}

# file_list DIR: the files and links under DIR, relative, sorted.
file_list() {
  (cd "$1" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
}

# expect_files WHAT DIR EXPECTED: DIR holds exactly the files EXPECTED
# lists, one per line.
expect_files() {
  printf '%s\n' "$3" | LC_ALL=C sort >"$work/expected.list"
  file_list "$2" >"$work/actual.list"
  if ! diff -u "$work/expected.list" "$work/actual.list" >"$work/files.diff"; then
    show_and_fail "$work/files.diff" "$1: not the expected files (-: missing, +: not expected)"
  fi
}

# check_no_core TREE: the static core the libraries are built from is not
# installed, and no installed text file (CMake package, .pc) refers to it.
check_no_core() {
  local found
  found=$(cd "$1" && find . -name '*.a' -o -name '*core*')
  [ -z "$found" ] || fail "installed, but internal: $found"
  found=$(grep -rIl -e compatcrypt_core -e 'compatcrypt::core' -e 'compatcrypt-core' "$1" || true)
  [ -z "$found" ] || fail "refers to the internal core: $found"
}

# dynamic_entry FILE TAG: the value of a dynamic-section entry (SONAME,
# RUNPATH, RPATH); empty when there is none.
dynamic_entry() {
  readelf -d "$1" | sed -n "s/.*($2).*\[\(.*\)\]\$/\1/p"
}

# check_libraries PREFIX LIBDIR VERSION: each library is the file
# NAME.so.VERSION with SONAME NAME.so.MAJOR, the SONAME link and the linker
# name link to it, and no run path leads out of the tree.
check_libraries() {
  local lib major name soname tag path
  lib=$1/$2
  major=${3%%.*}
  for name in libcompatcrypt libcompatcrypt-cxx; do
    [ -f "$lib/$name.so.$3" ] || fail "missing: $lib/$name.so.$3"
    [ "$(readlink "$lib/$name.so.$major")" = "$name.so.$3" ] || fail "$lib/$name.so.$major does not link to $name.so.$3"
    [ "$(readlink "$lib/$name.so")" = "$name.so.$major" ] || fail "$lib/$name.so does not link to $name.so.$major"
    soname=$(dynamic_entry "$lib/$name.so.$3" SONAME)
    [ "$soname" = "$name.so.$major" ] || fail "$name.so.$3 has SONAME '$soname', not $name.so.$major"
    for tag in RPATH RUNPATH; do
      path=$(dynamic_entry "$lib/$name.so.$3" $tag)
      [ -z "$path" ] || fail "$name.so.$3 has $tag $path"
    done
  done
}

# check_symbols LIBDIR: libcompatcrypt defines the seven C functions and
# nothing else, libcompatcrypt-cxx only compatcrypt:: names and the binding
# surface's compatcrypt_bind_ functions, so that a program linking both
# finds each symbol in exactly one of them.
check_symbols() {
  local others common
  defined() { nm -D --defined-only "$1" | awk '{ print $NF }' | LC_ALL=C sort -u; }
  defined "$1/libcompatcrypt.so.1" >"$work/c.symbols"
  defined "$1/libcompatcrypt-cxx.so.1" >"$work/cxx.symbols"
  common=$(LC_ALL=C comm -12 "$work/c.symbols" "$work/cxx.symbols")
  [ -z "$common" ] || fail "defined by both libraries: $common"
  printf '%s\n' DecodeFunction DecodeKey EncodeFunction EncodeKey FileDigest KeyGenerating MessageDigest |
    LC_ALL=C sort >"$work/c.expected"
  diff -u "$work/c.expected" "$work/c.symbols" >"$work/symbols.diff" ||
    show_and_fail "$work/symbols.diff" "libcompatcrypt.so.1 does not define exactly the seven functions"
  [ -s "$work/cxx.symbols" ] || fail "libcompatcrypt-cxx.so.1 defines no symbol"
  others=$(c++filt <"$work/cxx.symbols" | grep -v -e 'compatcrypt::' -e '^compatcrypt_bind_' || true)
  [ -z "$others" ] || fail "libcompatcrypt-cxx.so.1 defines names outside compatcrypt:: and compatcrypt_bind_: $others"
  grep -q '^compatcrypt_bind_version$' "$work/cxx.symbols" ||
    fail "libcompatcrypt-cxx.so.1 does not define the binding surface (compatcrypt_bind_version)"
}

# check_loads_from LIBDIR PROGRAM SONAME...: PROGRAM needs each SONAME and
# the dynamic loader finds it in LIBDIR, without LD_LIBRARY_PATH.
check_loads_from() {
  local dir program soname path
  dir=$(readlink -f "$1")
  program=$2
  shift 2
  ldd "$program" >"$work/ldd.out" 2>&1 || show_and_fail "$work/ldd.out" "ldd $program"
  for soname in "$@"; do
    path=$(awk -v n="$soname" '$1 == n && $2 == "=>" { print $3 }' "$work/ldd.out")
    case $path in
      /*) ;;
      "") show_and_fail "$work/ldd.out" "$program does not need $soname" ;;
      *) show_and_fail "$work/ldd.out" "$program: $soname not found" ;;
    esac
    [ "$(dirname "$(readlink -f "$path")")" = "$dir" ] || fail "$program loads $soname from $path, not from $dir"
  done
}

# run_program PROGRAM [WHAT]: runs it in an empty directory of its own,
# with no input, and requires success.
run_program() {
  local scratch
  scratch=$(mktemp -d "$work/run.XXXXXX")
  (cd "$scratch" && "$1" </dev/null >"$scratch.out" 2>&1) || show_and_fail "$scratch.out" "${2:-$1}: failed"
}

# check_tool PREFIX LIBDIR BINDIR VERSION: the installed tool finds its
# library through its own relative run path and reports the version.
check_tool() {
  local tool runpath out
  tool=$1/$3/compatcrypt
  [ -x "$tool" ] || fail "missing: $tool"
  runpath=$(dynamic_entry "$tool" RUNPATH)$(dynamic_entry "$tool" RPATH)
  [ "$runpath" = "\$ORIGIN/../$2" ] || fail "$tool: run path '$runpath', not \$ORIGIN/../$2"
  check_loads_from "$1/$2" "$tool" libcompatcrypt-cxx.so.1
  out=$(env -u LD_LIBRARY_PATH "$tool" --version 2>&1) || fail "$tool --version: $out"
  [ "$(printf '%s\n' "$out" | head -n 1)" = "compatcrypt $4" ] ||
    fail "$tool --version printed '$out', not 'compatcrypt $4' first"
}

# check_python PREFIX LIBDIR PYTHONDIR PYTHON: the installed package imports
# from PREFIX/PYTHONDIR, its extension has a run path relative to itself
# and loads libcompatcrypt-cxx.so.1 from PREFIX/LIBDIR, and it works.
check_python() {
  local package extension runpath expected scratch out
  package=$1/$3/compatcrypt
  extension=$(ls "$package"/_compatcrypt*.so)
  runpath=$(dynamic_entry "$extension" RUNPATH)$(dynamic_entry "$extension" RPATH)
  expected=\$ORIGIN/$(realpath -m --relative-to="/prefix/$3/compatcrypt" "/prefix/$2")
  [ "$runpath" = "$expected" ] || fail "$extension: run path '$runpath', not $expected"
  check_loads_from "$1/$2" "$extension" libcompatcrypt-cxx.so.1
  scratch=$(mktemp -d "$work/python.XXXXXX")
  # shellcheck disable=SC2016 # Python code, not shell expansions
  out=$(cd "$scratch" && env -u LD_LIBRARY_PATH PYTHONPATH="$1/$3" PYTHONDONTWRITEBYTECODE=1 "$4" -c '
import os, sys
import compatcrypt
package, libdir = sys.argv[1:]
assert os.path.dirname(os.path.realpath(compatcrypt.__file__)) == os.path.realpath(package), compatcrypt.__file__
loaded = {line.split()[-1] for line in open("/proc/self/maps") if "libcompatcrypt-cxx.so" in line}
assert loaded == {os.path.realpath(os.path.join(libdir, "libcompatcrypt-cxx.so.1"))}, loaded
assert compatcrypt.digest(b"abc") == compatcrypt.Digest(b"abc").digest()
key = compatcrypt.Key.from_password("installed")
assert compatcrypt.decode(compatcrypt.encode(b"installed tree", key), key) == b"installed tree"
print("ok")
' "$package" "$1/$2" 2>&1) || fail "the installed Python package: $out"
  [ "$out" = ok ] || fail "the installed Python package: $out"
}

# check_cmake_package PREFIX VERSION LIBDIR: find_package(compatcrypt ...)
# finds the tree's package, accepts the same major version only, and knows
# the components compatcrypt and cxx. Each probe enables C: find_package
# looks in lib/<multiarch> only once a compiler has named the architecture.
check_cmake_package() {
  local major n expected request probe result
  major=${2%%.*}
  n=0
  while read -r expected request; do
    n=$((n + 1))
    probe=$work/find-$n
    mkdir -p "$probe"
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(probe LANGUAGES C)\nfind_package(compatcrypt %s CONFIG REQUIRED)\n' \
      "$request" >"$probe/CMakeLists.txt"
    if cmake -S "$probe" -B "$probe/build" -DCMAKE_PREFIX_PATH="$1" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
         </dev/null >"$probe/log" 2>&1; then
      result=found
      [ "$(readlink -f "$(cache_value "$probe/build" compatcrypt_DIR)")" = "$(readlink -f "$1/$3/cmake/compatcrypt")" ] ||
        fail "find_package(compatcrypt $request) found $(cache_value "$probe/build" compatcrypt_DIR), not the tree's"
    else
      result=missing
    fi
    [ "$result" = "$expected" ] || show_and_fail "$probe/log" "find_package(compatcrypt $request): $result, expected $expected"
  done <<EOF
found
found $major
found $major.0
found $2
found $major...<$((major + 1))
missing $((major + 1))
missing $((major - 1)).9
found COMPONENTS cxx
found $major COMPONENTS compatcrypt cxx
missing COMPONENTS nonesuch
EOF
}

# check_pkg_config PREFIX LIBDIR VERSION: the .pc files find the prefix
# from where they are, with nothing defined on the command line.
check_pkg_config() {
  local pc found
  export PKG_CONFIG_LIBDIR="$1/$2/pkgconfig"
  unset PKG_CONFIG_PATH
  for pc in compatcrypt compatcrypt-cxx; do
    [ "$(pkg-config --modversion $pc)" = "$3" ] || fail "pkg-config $pc: version is not $3"
    found=$(pkg-config --variable=prefix $pc)
    [ "$(readlink -f "$found")" = "$(readlink -f "$1")" ] || fail "pkg-config $pc: prefix $found is not $1"
  done
  pkg-config --cflags compatcrypt-cxx | grep -q -- '-std=c++20' || fail "pkg-config compatcrypt-cxx: no -std=c++20"
}

# build_consumers PREFIX LIBDIR CONSUMER-DIR: the consumer programs built
# through find_package and through pkg-config; each must load the
# libraries it links from LIBDIR and pass its checks.
build_consumers() {
  local lib build found pc dir program
  lib=$1/$2
  build=$work/consumer-cmake
  cmake -S "$3" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$1" >"$work/consumer.log" 2>&1 ||
    show_and_fail "$work/consumer.log" "consumer: configuring against $1"
  found=$(cache_value "$build" compatcrypt_DIR)
  [ "$(readlink -f "$found")" = "$(readlink -f "$lib/cmake/compatcrypt")" ] ||
    fail "consumer: find_package found $found, not $lib/cmake/compatcrypt"
  cmake --build "$build" >"$work/consumer.log" 2>&1 || show_and_fail "$work/consumer.log" "consumer: building"

  pc=$work/consumer-pc
  mkdir -p "$pc"
  export PKG_CONFIG_LIBDIR="$lib/pkgconfig"
  unset PKG_CONFIG_PATH
  # shellcheck disable=SC2046,SC2086 # word splitting of the flags is meant
  {
    $CC $warnings -o "$pc/consumer_c" "$3/consumer.c" $(pkg-config --cflags --libs compatcrypt) -Wl,-rpath,"$lib" &&
      $CXX $warnings -o "$pc/consumer_cxx" "$3/consumer.cpp" $(pkg-config --cflags --libs compatcrypt-cxx) \
        -Wl,-rpath,"$lib" &&
      $CXX $warnings -o "$pc/consumer_both" "$3/consumer_both.cpp" \
        $(pkg-config --cflags --libs compatcrypt compatcrypt-cxx) -Wl,-rpath,"$lib"
  } >"$work/consumer.log" 2>&1 || show_and_fail "$work/consumer.log" "consumer: building through pkg-config"

  for dir in "$build" "$pc"; do
    check_loads_from "$lib" "$dir/consumer_c" libcompatcrypt.so.1
    check_loads_from "$lib" "$dir/consumer_cxx" libcompatcrypt-cxx.so.1
    check_loads_from "$lib" "$dir/consumer_both" libcompatcrypt.so.1 libcompatcrypt-cxx.so.1
    for program in consumer_c consumer_cxx consumer_both; do
      run_program "$dir/$program" "consumer $program (built in $dir)"
    done
  done
}

# check_readme PREFIX LIBDIR README: every fenced block of README whose
# info string is exactly c or cpp is a complete program; each compiles,
# links and runs as printed, through pkg-config (compatcrypt for C,
# compatcrypt-bind for C that uses the binding surface, compatcrypt_bind.h,
# compatcrypt-cxx for C++) and through find_package (compatcrypt::compatcrypt,
# compatcrypt::cxx).
uses_binding_surface() { grep -q '^#include <compatcrypt_bind.h>' "$1"; }

check_readme() {
  local lib dir name info line target where soname program
  lib=$1/$2
  dir=$work/readme
  mkdir -p "$dir"
  awk -v dir="$dir" '
    /^```/ {
      if (inside) {
        if ($0 ~ /^```[ \t]*$/) { if (file != "") close(file); inside = 0; file = ""; next }
      } else {
        inside = 1; start = NR; file = ""
        info = substr($0, 4); sub(/[ \t]+$/, "", info)
        if (info == "c" || info == "cpp") {
          n++
          name = sprintf("readme_%02d", n)
          file = dir "/" name "." info
          printf "%s %s %d\n", name, info, NR + 1 > (dir "/blocks")
        }
        next
      }
    }
    inside && file != "" { print > file }
    END {
      if (inside) { printf "code block opened on line %d is not closed\n", start > "/dev/stderr"; exit 1 }
    }
  ' "$3" || fail "$3: cannot extract the code blocks"
  touch "$dir/blocks"
  grep -q ' c ' "$dir/blocks" || fail "$3: no \`\`\`c block"
  grep -q ' cpp ' "$dir/blocks" || fail "$3: no \`\`\`cpp block"

  {
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(readme_examples LANGUAGES C CXX)\n'
    printf 'find_package(compatcrypt 1 CONFIG REQUIRED)\nadd_compile_options(%s)\n' "$warnings"
    while read -r name info line <&3; do
      target=compatcrypt::compatcrypt
      [ "$info" = c ] && ! uses_binding_surface "$dir/$name.$info" || target=compatcrypt::cxx
      printf 'add_executable(%s %s.%s)\ntarget_link_libraries(%s PRIVATE %s)\n' "$name" "$name" "$info" "$name" "$target"
    done 3<"$dir/blocks"
  } >"$dir/CMakeLists.txt"
  cmake -S "$dir" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$1" >"$dir/log" 2>&1 ||
    show_and_fail "$dir/log" "README examples: configuring against $1"

  export PKG_CONFIG_LIBDIR="$lib/pkgconfig"
  unset PKG_CONFIG_PATH
  while read -r name info line <&3; do
    where="$3, the \`\`\`$info block from line $line"
    if [ "$info" = c ] && uses_binding_surface "$dir/$name.c"; then
      # shellcheck disable=SC2046,SC2086
      $CC $warnings -o "$dir/pc-$name" "$dir/$name.c" $(pkg-config --cflags --libs compatcrypt-bind) \
        -Wl,-rpath,"$lib" >"$dir/log" 2>&1 || show_and_fail "$dir/log" "$where: does not build through pkg-config"
      soname=libcompatcrypt-cxx.so.1
    elif [ "$info" = c ]; then
      # shellcheck disable=SC2046,SC2086
      $CC $warnings -o "$dir/pc-$name" "$dir/$name.c" $(pkg-config --cflags --libs compatcrypt) \
        -Wl,-rpath,"$lib" >"$dir/log" 2>&1 || show_and_fail "$dir/log" "$where: does not build through pkg-config"
      soname=libcompatcrypt.so.1
    else
      # shellcheck disable=SC2046,SC2086
      $CXX $warnings -o "$dir/pc-$name" "$dir/$name.cpp" $(pkg-config --cflags --libs compatcrypt-cxx) \
        -Wl,-rpath,"$lib" >"$dir/log" 2>&1 || show_and_fail "$dir/log" "$where: does not build through pkg-config"
      soname=libcompatcrypt-cxx.so.1
    fi
    cmake --build "$dir/build" --target "$name" >"$dir/log" 2>&1 ||
      show_and_fail "$dir/log" "$where: does not build through find_package"
    for program in "$dir/pc-$name" "$dir/build/$name"; do
      check_loads_from "$lib" "$program" $soname
      run_program "$program" "$where, built as $program"
    done
  done 3<"$dir/blocks"
}
