#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build, then the Windows
# DLLs under Wine, 64-bit and 32-bit.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
ctest --test-dir build --output-on-failure -j "$(nproc)"

# The Windows DLL, built with mingw-w64 and tested under Wine.
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCOMPATCRYPT_BUILD_TOOLS=OFF -DCOMPATCRYPT_BUILD_BENCHMARKS=OFF
cmake --build build-windows
ctest --test-dir build-windows --output-on-failure -j "$(nproc)"

# The 32-bit DLL (__stdcall exports), tested under 32-bit Wine in a prefix of its own.
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCOMPATCRYPT_BUILD_TOOLS=OFF -DCOMPATCRYPT_BUILD_BENCHMARKS=OFF
cmake --build build-win32
ctest --test-dir build-win32 --output-on-failure -j "$(nproc)"
