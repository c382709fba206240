#!/bin/sh
# Installs the build into a temporary prefix, then builds and runs a tiny
# consumer against it twice: through find_package and through pkg-config.
# Usage: package_test.sh BUILD-DIR SOURCE-DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/compatcrypt.h include/compatcrypt.hpp lib/libcompatcrypt.so lib/libcompatcrypt.so.1 \
         lib/cmake/compatcrypt/compatcryptConfig.cmake lib/pkgconfig/compatcrypt.pc bin/compatcrypt \
         share/man/man1/compatcrypt.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

echo "== find_package"
cmake -S "$source/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$prefix/lib "$work/cmake-build/consumer_c"
"$work/cmake-build/consumer_cxx"

echo "== pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# The .pc files name the prefix they were configured with; point them here.
cc -o "$work/pc_c" "$source/consumer/consumer.c" \
  $(pkg-config --define-variable=prefix="$prefix" --cflags --libs compatcrypt) -Wl,-rpath,"$prefix/lib"
"$work/pc_c"
c++ -o "$work/pc_cxx" "$source/consumer/consumer.cpp" \
  $(pkg-config --define-variable=prefix="$prefix" --cflags --libs compatcrypt-cxx)
"$work/pc_cxx"
echo "package consumers built and ran"
