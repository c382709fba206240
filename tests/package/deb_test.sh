#!/bin/sh
# cpack -G DEB makes a Debian package holding the library, headers and tool.
# Usage: deb_test.sh BUILD-DIR
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$1"
cpack -G DEB -B "$work" >/dev/null
deb=$(ls "$work"/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in lib/libcompatcrypt.so.1 include/compatcrypt.h bin/compatcrypt man1/compatcrypt.1; do
  printf '%s\n' "$contents" | grep -q "$f" || { echo "missing from $deb: $f"; exit 1; }
done
dpkg-deb -f "$deb" Package Version
echo "debian package: $(basename "$deb")"
