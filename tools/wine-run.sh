#!/bin/sh
# Run a Windows program headless under Wine (Debian 12, wine 8.0): 64-bit programs in a 64-bit
# prefix by default, 32-bit ones in a 32-bit prefix of their own with --arch=win32 (needs wine32:i386).
# Usage: wine-run.sh [--arch=win64|win32] [--prefix=DIR] program.exe [args...]
# Prefix precedence: $WINE_RUN_PREFIX > --prefix=DIR > $PWD/wineprefix. A prefix has one
# architecture for life: keep 32- and 64-bit prefixes apart.
# Exit status and stdout/stderr of the program are passed through unchanged. Where this machine
# cannot run the program (no Wine of that width, no 32-bit programs at all, a prefix that does not
# boot: tools/machine-probe.sh decides), it says why on stderr and exits 77, the status the test
# suites count as skipped. --check stops there: exit 0 if the program could run.
# Optional env: WINE_RUN_PERSIST=<seconds> (default 120; 0 = off) keeps wineserver alive that long
# after the last client, so later runs skip the ~0.4 s server+services start-up.
set -e
prefix="$PWD/wineprefix"
arch=win64
case "$1" in --arch=*) arch="${1#--arch=}"; shift ;; esac
case "$1" in --prefix=*) prefix="${1#--prefix=}"; shift ;; esac
check=false
case "${1:-}" in --check) check=true; shift ;; esac
case "$arch" in win64 | win32) ;; *) echo "wine-run.sh: unknown --arch=$arch" >&2; exit 2 ;; esac
[ -n "$WINE_RUN_PREFIX" ] && prefix="$WINE_RUN_PREFIX"
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac   # Wine wants an absolute WINEPREFIX
$check || [ $# -ge 1 ] || { echo "usage: $0 [--arch=win64|win32] [--prefix=DIR] [--check | program.exe [args...]]" >&2; exit 2; }

# The prefix is booted here the first time, by the probe.
lacking=$("$(dirname "$0")/machine-probe.sh" "wine${arch#win}" "$prefix") || {
  echo "wine-run.sh: cannot run here: $lacking" >&2
  exit 77
}
$check && exit 0

# Debian 12: /usr/bin/wine is a shell wrapper that picks /usr/lib/wine/wine64 or, from wine32:i386,
# the 32-bit /usr/lib/wine/wine. Call the loader of the prefix's architecture directly (no extra sh
# fork); the probe has checked that it is there.
WINE=/usr/lib/wine/wine64
[ "$arch" = win32 ] && WINE=/usr/lib/wine/wine
export WINELOADER=$WINE
WINESERVER=$(command -v wineserver)

unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH="$arch"
# No Mono/Gecko download prompts; not needed for console programs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="

persist=${WINE_RUN_PERSIST:-120}
start_server() {
  # No-op if a server for this prefix already runs. Detached from our stdout/stderr so that
  # ctest/execute_process never wait on a pipe held open by the daemon.
  [ "$persist" = 0 ] || "$WINESERVER" -p"$persist" </dev/null >/dev/null 2>&1 || true
}

start_server

# The first program a new server runs starts Wine's background services
# (services.exe, winedevice, explorer...), and they inherit that program's
# stdout and stderr. Under ctest those are the test's pipes, which then stay
# open after the test ends, and ctest waits on them until it times out. So
# when this prefix's server has no services yet, a detached no-op program
# starts them first, with /dev/null for its output.
services_running() {
  for pid in $(pgrep -x services.exe 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && return 0
  done
  return 1
}
if ! services_running; then
  (
    flock 9
    services_running || "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  ) 9>"$prefix/.wine-run.lock"
fi

exec "$WINE" "$@"
