#!/usr/bin/env bash
# Builds everything and runs every test this machine can run: the Linux
# build, the native constant-time check's build, then the Windows DLLs
# under Wine, 64-bit and 32-bit. Each build is a preset of
# CMakePresets.json (release, taint, windows-x64, windows-x86), the build
# matrix CI uses too.
#
# What a suite needs of the machine is asked of tools/machine-probe.sh (32-bit
# programs, Wine of each width). Where the machine lacks it, everything else
# is still done: the DLL is built and its export and import tables checked
# without running it, and ctest reports the suites that would run it as
# skipped, with the reason. The last line says what was skipped and why
# (tools/skip-reasons.sh).
# COMPATCRYPT_MACHINE_LACKS=i386 (or wine) tries that on any machine.
set -euo pipefail
cd "$(dirname "$0")/.."
probe=tools/machine-probe.sh

windows_packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64)
# 32-bit Wine, and the i386 architecture it comes from, only where the kernel
# runs 32-bit programs: elsewhere it installs but cannot start.
if "$probe" i386 >/dev/null; then
  windows_packages+=(wine32:i386)
fi
tools/install-deps.sh "${windows_packages[@]}"

skipped=()

# ctest in a build tree; its skipped tests and their reasons go into the
# last line.
run_suite() {
  local junit=$PWD/$1/Testing/run-tests.junit.xml reason
  ctest --test-dir "$1" --output-on-failure -j "$(nproc)" --output-junit "$junit"
  while IFS= read -r reason; do
    skipped+=("$1: $reason")
  done < <(tools/skip-reasons.sh "$junit")
}

cmake --preset release
cmake --build build
run_suite build

# The native constant-time check: the library and the check built with
# clang's MemorySanitizer, run on every engine this CPU has (the valgrind
# check in the suite above sees only the engines valgrind lets it run).
cmake --preset taint
cmake --build build-taint
run_suite build-taint

# The Windows DLLs, built with mingw-w64, tested under Wine of their width,
# each in a prefix of its own inside the build tree (32-bit programs need
# a 32-bit prefix). A cross build is configured from its toolchain file
# alone: the parts that need this machine's libraries are off there.
windows_stage() {
  local dir=$1 width=$2 preset=$3 reason
  cmake --preset "$preset"
  cmake --build "$dir"
  if ! reason=$("$probe" "wine$width" "${WINE_RUN_PREFIX:-$PWD/$dir/wineprefix}"); then
    echo "run-tests.sh: the $width-bit Windows programs cannot run here: $reason" >&2
  fi
  run_suite "$dir"
}
windows_stage build-windows 64 windows-x64
windows_stage build-win32 32 windows-x86

if [ ${#skipped[@]} -eq 0 ]; then
  echo "run-tests.sh: every test passed; none skipped"
else
  echo "run-tests.sh: every test that ran passed; skipped: $(IFS=';'; echo "${skipped[*]}" | sed 's/;/; /g')"
fi
