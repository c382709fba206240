#!/usr/bin/env bash
# Installs what building and testing compatcrypt needs on Debian, or stops
# with the list of what is missing when it cannot install (not root).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libssl-dev libcli11-dev
  dpkg-dev file zsh valgrind
  # Debian's package checker, for the packages cpack makes.
  lintian
  # clang with its sanitizer runtimes and symbolizer: the native
  # constant-time check (MemorySanitizer) and the fuzzers.
  clang libclang-rt-dev llvm
  # The Python module and its suites (pytest, Dask on a local cluster), and
  # bench/report.py --plot.
  python3-dev pybind11-dev python3-pytest python3-numpy python3-pandas python3-dask python3-distributed
  python3-matplotlib
  # The Python package as users install it: wheel and sdist built offline,
  # installed into fresh virtual environments.
  python3-setuptools python3-wheel python3-pip python3-venv
  # The database extensions (sql/) and their suites: a PostgreSQL server
  # with pgcrypto and the server headers, SQLite's shell and headers.
  postgresql-15 postgresql-contrib postgresql-server-dev-15 sqlite3 libsqlite3-dev
  # The Node.js package (node/): node with its Node-API headers and npm.
  nodejs)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "compatcrypt: missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "compatcrypt: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine comes from the i386 architecture; nothing else is installed
# from it but what those packages depend on.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A mirror that answers slowly or drops a connection is retried, and a
# package manager busy elsewhere (unattended upgrades at boot) is waited for
# rather than taken as a failure.
apt=(apt-get -o Acquire::Retries=5 -o Acquire::http::Timeout=60 -o DPkg::Lock::Timeout=600)
"${apt[@]}" update -qq
"${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
