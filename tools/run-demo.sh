#!/usr/bin/env bash
# Builds the library and runs the demonstration host on the files given
# (or on its embedded sample).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target compatcrypt compatcrypt_demo >/dev/null
exec build/tools/demo/compatcrypt-demo "$@"
