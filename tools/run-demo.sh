#!/usr/bin/env bash
# Builds the library, the demonstration host and the compatcrypt tool, then
# runs the demonstration host on the files given, or without any its tour
# of every service on an embedded sample. File names are taken relative to
# the directory this script is run from.
#
#   tools/run-demo.sh                            the tour
#   tools/run-demo.sh [FILE...]                  digest of each file
#   tools/run-demo.sh keygen                     key of the password on stdin
#   tools/run-demo.sh encode|decode --key HEX32 [FILE]
#   tools/run-demo.sh encode|decode --password-env VAR [FILE]
#
# COMPATCRYPT_BUILD_DIR names the build tree (default: build in the source
# tree); an existing tree is built as it is configured.
set -euo pipefail
caller=$PWD
source=$(cd "$(dirname "$0")/.." && pwd)

case "${1:-}" in
  -h|--help)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
esac

build=${COMPATCRYPT_BUILD_DIR:-$source/build}
case "$build" in /*) ;; *) build=$caller/$build ;; esac
"$source/tools/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target compatcrypt compatcrypt_demo compatcrypt_cli >/dev/null
echo "compatcrypt-demo: the compatcrypt tool is at $build/cli/compatcrypt" >&2
cd "$caller"
exec "$build/tools/demo/compatcrypt-demo" "$@"
