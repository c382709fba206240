#!/bin/sh
# What this machine can run, asked in one place: the test command, the CI
# script, Wine's runner and the cross builds' test lists all come here.
#
#   machine-probe.sh i386            32-bit x86 programs run
#   machine-probe.sh wine64 PREFIX   64-bit Wine runs, with PREFIX booted
#   machine-probe.sh wine32 PREFIX   32-bit Wine runs, with PREFIX booted
#
# Exit 0 when it can, with nothing printed; exit 1 when it cannot, with the
# reason as one line on standard output; exit 2 on a usage error. A Wine
# prefix is booted once (4-6 s, about 700 MB) and marked ready; later calls
# only check the mark. A machine that cannot is asked again each time: it may
# have been mended since.
#
# COMPATCRYPT_MACHINE_LACKS forces an answer, so that what a machine lacking
# a capability does can be tried on one that has it: a list of capabilities
# (i386, wine, wine32, wine64) separated by spaces or commas. "i386" takes
# 32-bit Wine with it, "wine" both Wines.
set -u

usage() {
  echo "usage: machine-probe.sh i386 | wine64 PREFIX | wine32 PREFIX" >&2
  exit 2
}
[ $# -ge 1 ] || usage
capability=$1

forced() {
  set -f
  for lacking in $(printf '%s' "${COMPATCRYPT_MACHINE_LACKS:-}" | tr ',' ' '); do
    [ "$lacking" = "$1" ] && return 0
  done
  return 1
}
lacks() {
  echo "$1"
  exit 1
}
lacks_forced() {
  lacks "$1 (forced: COMPATCRYPT_MACHINE_LACKS=${COMPATCRYPT_MACHINE_LACKS})"
}

# A kernel built without IA-32 emulation, or started with it off, refuses
# every 32-bit program with "Exec format error", though the i386 packages
# install. Asking it needs no such package: the smallest static i386 program
# (an ELF header, one loadable segment, then `mov eax,1; mov ebx,42;
# int 0x80`, the 32-bit exit system call) is written out and run; only a
# kernel that ran it answers 42.
probe_i386() {
  forced i386 && lacks_forced "this machine runs no 32-bit programs"
  dir=$(mktemp -d) || lacks "no temporary directory to probe for 32-bit programs in"
  program=$dir/exit42
  {
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0'                # 32-bit, little-endian, version 1
  printf '\2\0\3\0\1\0\0\0'                               # executable, i386, version 1
  printf '\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0'         # entry 0x08048054, program headers at 52
  printf '\64\0\40\0\1\0\0\0\0\0\0\0'                     # header sizes, one program header
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10'         # loadable, from offset 0 to 0x08048000
  printf '\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0'          # 96 bytes, read and execute
  printf '\270\1\0\0\0\273\52\0\0\0\315\200'              # mov eax,1; mov ebx,42; int 0x80
  } >"$program" 2>/dev/null
  chmod +x "$program"
  error=$("$program" 2>&1)
  status=$?
  rm -rf "$dir"
  [ "$status" -eq 42 ] && return 0
  error=$(printf '%s' "$error" | sed -n 's/.*: //p' | tail -n 1)
  lacks "this machine runs no 32-bit programs (a static i386 program: ${error:-exit status $status})"
}

# Wine runs when its loader for the width exists and a prefix boots. Debian
# puts the loaders in /usr/lib/wine: wine64, and wine from wine32:i386.
probe_wine() {
  bits=$1
  prefix=$2
  forced wine && lacks_forced "no Wine on this machine"
  forced "wine$bits" && lacks_forced "no $bits-bit Wine on this machine"
  loader=/usr/lib/wine/wine64
  if [ "$bits" = 32 ]; then
    (probe_i386) >/dev/null || lacks "no 32-bit Wine: $(probe_i386)"
    loader=/usr/lib/wine/wine
  fi
  [ -x "$loader" ] || lacks "no $bits-bit Wine on this machine ($loader; tools/install-deps.sh installs it)"
  command -v wineserver >/dev/null || lacks "no Wine server on this machine (wineserver)"

  marker=$prefix/.wine-run-ready
  [ -f "$marker" ] && return 0
  mkdir -p "$prefix" || lacks "cannot create the Wine prefix $prefix"
  # Serialised, so that the tests of a parallel ctest run boot it once.
  # 9>&-: Wine's daemons must not inherit the lock, or it stays held.
  (
    flock 9
    [ -f "$marker" ] && exit 0
    unset DISPLAY WAYLAND_DISPLAY
    WINEPREFIX=$prefix WINEARCH=win$bits WINEDEBUG=-all WINELOADER=$loader WINEDLLOVERRIDES="mscoree,mshtml=" \
      "$loader" wineboot --init </dev/null >/dev/null 2>&1 9>&- || exit 1
    touch "$marker"
  ) 9>"$prefix/.wine-run.lock" || lacks "$bits-bit Wine does not start here: wineboot failed in $prefix"
}

case "$capability" in
  i386)
    [ $# -eq 1 ] || usage
    probe_i386
    ;;
  wine64 | wine32)
    [ $# -eq 2 ] || usage
    case "$2" in /*) prefix=$2 ;; *) prefix=$PWD/$2 ;; esac   # Wine wants an absolute prefix
    probe_wine "${capability#wine}" "$prefix"
    ;;
  *) usage ;;
esac
exit 0
