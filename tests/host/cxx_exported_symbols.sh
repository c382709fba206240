#!/bin/sh
# libcompatcrypt-cxx.so's dynamic symbol table defines the compatcrypt:: API
# (with the type information and virtual tables of its classes) and the
# binding surface's C functions, exactly those compatcrypt_bind.h declares,
# and nothing else, and no symbol that libcompatcrypt.so defines: a program
# links both and each keeps its own copy of the core.
# Usage: cxx_exported_symbols.sh NM CXXFILT LIBCOMPATCRYPT-CXX LIBCOMPATCRYPT BIND-HEADER
set -eu
nm=$1
cxxfilt=$2
cxx=$3
c=$4
header=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Names only, without symbol versions.
"$nm" -D --defined-only "$cxx" | awk '{print $NF}' | sed 's/@.*//' | sort -u >"$work/cxx"
"$nm" -D --defined-only "$c" | awk '{print $NF}' | sed 's/@.*//' | sort -u >"$work/c"

count=$(wc -l <"$work/cxx")
if [ "$count" -lt 10 ]; then
  echo "only $count symbols defined by $cxx"
  exit 1
fi
if ! "$cxxfilt" <"$work/cxx" | grep -q '^compatcrypt::.*encode('; then
  echo "compatcrypt::encode is not defined by $cxx"
  exit 1
fi
# file_digest with the 64-bit offset the header declares, and with the
# 32-bit one, which programs linked against the .so.1 with that signature call.
for offset in long int; do
  if ! "$cxxfilt" <"$work/cxx" | grep -q "^compatcrypt::v1::file_digest(std::filesystem::__cxx11::path const&, $offset)$"; then
    echo "compatcrypt::file_digest(path, $offset) is not defined by $cxx"
    exit 1
  fi
done

# The surface: every function the header declares, and no other C name.
sed -n 's/^COMPATCRYPT_BIND_API [^(]*[ *]\(compatcrypt_bind_[a-z_]*\)(.*/\1/p' "$header" | sort -u >"$work/declared"
grep '^compatcrypt_bind_' "$work/cxx" >"$work/surface" || true
if [ "$(wc -l <"$work/declared")" -lt 20 ]; then
  echo "only $(wc -l <"$work/declared") functions found in $header"
  exit 1
fi
if ! diff -u "$work/declared" "$work/surface"; then
  echo "the binding surface exported differs from $header (- declared, + exported)"
  exit 1
fi

"$cxxfilt" <"$work/cxx" | grep -v '^compatcrypt_bind_' |
  grep -v -e '^compatcrypt::' -e '^typeinfo for compatcrypt::' -e '^typeinfo name for compatcrypt::' \
    -e '^vtable for compatcrypt::' >"$work/foreign" || true
if [ -s "$work/foreign" ]; then
  echo "$cxx defines symbols outside compatcrypt::"
  cat "$work/foreign"
  exit 1
fi

comm -12 "$work/cxx" "$work/c" >"$work/common"
if [ -s "$work/common" ]; then
  echo "symbols defined by both $cxx and $c:"
  cat "$work/common"
  exit 1
fi
echo "$count symbols: $(wc -l <"$work/surface") binding functions as declared, the rest in compatcrypt::, none shared with $c"
