#!/bin/sh
# The DLL's export table names exactly the seven functions, undecorated.
# Usage: dll_exports.sh OBJDUMP DLL
set -eu
actual=$("$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
expected="DecodeFunction DecodeKey EncodeFunction EncodeKey FileDigest KeyGenerating MessageDigest "
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports as expected"
