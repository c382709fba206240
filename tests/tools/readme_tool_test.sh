#!/bin/sh
# The README's command-line examples run as printed, in order, in an empty
# directory holding only the input files they name, with the tool on PATH.
# Usage: readme_tool_test.sh README TOOL
set -eu
readme=$1
tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$tool" "$work/bin/compatcrypt"

# The first ```sh block after the tool's heading.
awk '/^### The command-line tool/ { section = 1 }
     section && /^```sh$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$readme" >"$work/examples.sh"
[ -s "$work/examples.sh" ] || { echo "no example block found"; exit 1; }

cd "$work"
head -c 3000 /dev/urandom >data.bin
head -c 100 /dev/urandom >other.bin
PATH="$work/bin:$PATH" sh -eux examples.sh >log 2>&1 || { echo "an example failed:"; cat log; exit 1; }
cmp data.bin data.out
echo "README tool examples ran as printed"
