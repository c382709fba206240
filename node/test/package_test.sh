#!/bin/sh
# The npm package as users get it: the tarball (npm pack) installed with
# `npm install ./compatcrypt-VERSION.tgz` into clean directories, once
# with the prebuilt addon and once built from source, and the suite run
# against each installation. Needs the npm registry (for node-gyp-build):
# where it cannot be reached, the test is skipped (77) with the reason.
#
#   package_test.sh <source root> <built compatcrypt.node> <node>
set -eu
source=$1
addon=$2
node=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export npm_config_cache="$work/npm-cache" npm_config_update_notifier=false npm_config_fund=false \
  npm_config_audit=false

if ! command -v npm >/dev/null; then
  echo "SKIP: npm not found (it comes with Node.js; Debian: npm)"
  exit 77
fi
if ! npm view node-gyp-build version >/dev/null 2>&1; then
  echo "SKIP: the npm registry cannot be reached (the package installs node-gyp-build from it)"
  exit 77
fi

tarball=$("$node" "$source/node/scripts/pack.js" "$source" "$addon" "$work/dist")
echo "packed: $(basename "$tarball")"
tar -tzf "$tarball" | grep -q 'package/prebuilds/linux-x64/compatcrypt.glibc.node'

install() {  # <directory>
  mkdir -p "$1"
  (cd "$1" && npm init -y >/dev/null && npm install --no-save "$tarball")
}

run_suite() {  # <installed package directory> <test files...>
  pkg_dir=$1
  shift
  COMPATCRYPT_NODE_PACKAGE=$pkg_dir "$node" --test "$@"
}

# With the prebuilt addon: nothing is built, the prebuild is what loads,
# and it needs nothing but the C library.
install "$work/prebuilt"
pkg="$work/prebuilt/node_modules/compatcrypt"
test ! -e "$pkg/build"
loaded=$(cd "$work/prebuilt" && "$node" -p "require('node-gyp-build').path(require('path').dirname(require.resolve('compatcrypt')))")
case $loaded in */prebuilds/linux-x64/compatcrypt.glibc.node) ;; *) echo "loaded $loaded"; exit 1 ;; esac
if ldd "$loaded" | grep -v -E 'linux-vdso|libc\.so|ld-linux' | grep -q '=>'; then
  ldd "$loaded"
  echo "the prebuilt addon needs libraries beyond the C library"
  exit 1
fi
(cd "$work/prebuilt" && "$node" --input-type=module -e "
  import { digest, Key } from 'compatcrypt';
  if (digest(Buffer.from('abc')).toString('hex') !== 'cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c') process.exit(1);
  console.log('ESM import:', String(Key.fromPassword('x')));")
run_suite "$pkg" "$source"/node/test/*.test.js

# Built from source: the known answers and the errors again.
(export npm_config_build_from_source=true && install "$work/source")
pkg="$work/source/node_modules/compatcrypt"
test -f "$pkg/build/Release/compatcrypt.node"
loaded=$(cd "$work/source" && "$node" -p "require('node-gyp-build').path(require('path').dirname(require.resolve('compatcrypt')))")
case $loaded in */build/Release/compatcrypt.node) ;; *) echo "loaded $loaded"; exit 1 ;; esac
run_suite "$pkg" "$source"/node/test/known_answers.test.js "$source"/node/test/errors.test.js
echo "node.package: the tarball installs and passes with the prebuilt addon and built from source"
