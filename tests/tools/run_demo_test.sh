#!/bin/sh
# tools/run-demo.sh as a new user runs it: --help answers, file names are
# taken relative to the caller's directory (not the source tree), and the
# script says where the tool it built is.
# Usage: run_demo_test.sh SOURCE-DIR BUILD-DIR
set -eu
source=$1
export COMPATCRYPT_BUILD_DIR=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$source/tools/run-demo.sh" --help >"$work/help"
grep -q "run-demo.sh \[FILE...\]" "$work/help" || { echo "--help: no usage"; cat "$work/help"; exit 1; }

cd "$work"
printf abc >abc.txt
"$source/tools/run-demo.sh" abc.txt >out 2>err
[ "$(cat out)" = "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c  abc.txt" ] || {
  echo "relative file name: unexpected output"; cat out err; exit 1; }
tool=$(sed -n 's/^compatcrypt-demo: the compatcrypt tool is at //p' err)
[ -x "$tool" ] || { echo "no usable tool named on stderr"; cat err; exit 1; }
[ "$("$tool" digest abc.txt)" = "$(cat out)" ] || { echo "the tool and the demo disagree"; exit 1; }
echo "run-demo.sh: help, relative names and the tool's path as expected"
