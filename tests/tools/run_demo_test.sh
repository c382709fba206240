#!/bin/sh
# tools/run-demo.sh as a new user runs it: --help answers, the tour shows
# every service (its digest and key agree with the tool's, the round trip
# holds, a bad key's result code, where the library came from), file names
# are taken relative to the caller's directory (not the source tree), and
# the script says where the tool it built is.
# Usage: run_demo_test.sh SOURCE-DIR BUILD-DIR
set -eu
source=$1
export COMPATCRYPT_BUILD_DIR=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$source/tools/run-demo.sh" --help >"$work/help"
grep -q "run-demo.sh \[FILE...\]" "$work/help" || { echo "--help: no usage"; cat "$work/help"; exit 1; }

cd "$work"
"$source/tools/run-demo.sh" >tour 2>err || { echo "the tour failed"; cat tour err; exit 1; }
tool=$(sed -n 's/^compatcrypt-demo: the compatcrypt tool is at //p' err)
[ -x "$tool" ] || { echo "no usable tool named on stderr"; cat err; exit 1; }
field() { sed -n "s/^$1 *//p" tour; }
printf 'The quick brown fox jumps over the lazy dog' >sample.txt
[ "$(field digest | cut -d' ' -f1)" = "$("$tool" digest sample.txt | cut -d' ' -f1)" ] || {
  echo "tour: the sample's digest differs from the tool's"; cat tour; exit 1; }
printf 'demo password\n' >password.txt
[ "$(field key | cut -d' ' -f1)" = "$("$tool" keygen --password-file password.txt)" ] || {
  echo "tour: the key differs from the tool's"; cat tour; exit 1; }
field decoded | grep -q 'the round trip gives the sample back$' || { echo "tour: no round trip"; cat tour; exit 1; }
[ "$(field 'bad key')" = "EncodeFunction with a 15-byte key returns -2" ] || {
  echo "tour: no bad-key result"; cat tour; exit 1; }
[ -f "$(field library)" ] || { echo "tour: the library's path is not a file"; cat tour; exit 1; }

printf abc >abc.txt
"$source/tools/run-demo.sh" abc.txt >out 2>err
[ "$(cat out)" = "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c  abc.txt" ] || {
  echo "relative file name: unexpected output"; cat out err; exit 1; }
tool=$(sed -n 's/^compatcrypt-demo: the compatcrypt tool is at //p' err)
[ -x "$tool" ] || { echo "no usable tool named on stderr"; cat err; exit 1; }
[ "$("$tool" digest abc.txt)" = "$(cat out)" ] || { echo "the tool and the demo disagree"; exit 1; }
echo "run-demo.sh: help, the tour, relative names and the tool's path as expected"
