#!/bin/sh
# The DES folders are layers, bottom first; a file may include DES headers
# of its own layer or of layers below it, never above. The exports
# (src/des/*.cpp) stand on top of them all.
# Usage: des_layers.sh SOURCE_DIR
set -eu
cd "$1/src/des"
layers="tables block engines dispatch modes format"
rank() {
  n=0
  for layer in $layers; do
    if [ "$layer" = "$1" ]; then echo "$n"; return; fi
    n=$((n + 1))
  done
  echo "$n"  # the exports
}
bad=0
checked=0
for file in $(find . -name '*.h' -o -name '*.cpp' | sort); do
  own=$(rank "$(echo "$file" | cut -d/ -f2 | sed 's/\..*//')")
  for header in $(sed -n 's/^#include "des\/\([^"]*\)".*/\1/p' "$file"); do
    checked=$((checked + 1))
    below=$(rank "${header%%/*}")
    if [ "$below" -gt "$own" ]; then
      echo "${file#./} includes des/$header, a layer above it"
      bad=1
    fi
  done
done
if [ "$checked" -lt 20 ]; then
  echo "only $checked includes found: the check would prove nothing"
  exit 1
fi
[ "$bad" -eq 0 ] && echo "$checked includes, none upward"
exit "$bad"
