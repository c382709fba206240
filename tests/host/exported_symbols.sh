#!/bin/sh
# The shared library's dynamic symbol table defines exactly the seven
# functions, with undecorated names.
set -eu
lib=$1
actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort | tr '\n' ' ')
expected="DecodeFunction DecodeKey EncodeFunction EncodeKey FileDigest KeyGenerating MessageDigest "
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
case "$soname" in
  libcompatcrypt.so.[0-9]*) ;;
  *) echo "unexpected SONAME: $soname"; exit 1 ;;
esac
echo "exports and SONAME ($soname) as expected"
