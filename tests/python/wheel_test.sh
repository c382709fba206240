#!/bin/sh
# The package as Python users get it, from a copy of the source tree
# holding what a clone holds:
#   - the README's install commands, run as written in the copy: `pip
#     wheel` of the tree, offline (--no-build-isolation, Debian's
#     setuptools, wheel and pybind11), into a virtual environment, as
#     Debian's python3 requires: one wheel, for this interpreter and
#     platform, holding the package and the extension with the C++ library
#     linked in (no libcompatcrypt needed, no run path, only its init
#     function exported), with the SPDX licence and the Python package's own
#     description;
#   - the README's upload of the unpacked wheel to Dask workers
#     (UploadDirectory), on a local cluster of worker processes started by
#     Debian's python3 with nothing of the project on their path;
#   - an sdist, and a wheel built from nothing but the sdist: the same
#     bytes as the wheel built from the tree (another directory, minutes
#     later); a second sdist, built after that wheel: the same bytes as
#     the first;
#   - each wheel installed into a fresh virtual environment (with the
#     system's packages, for numpy, pandas and Dask), and the Python suites
#     run there from outside the source tree, against the installed package.
# Usage: wheel_test.sh SOURCE-DIR PYTHON
#   The suites' references come from the environment ctest sets
#   (COMPATCRYPT_C_LIBRARY, COMPATCRYPT_TOOL, ...).
set -eu
source_dir=$(readlink -f "$1")
python=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# What building and installing needs; without it the test is skipped.
for module in pip venv setuptools wheel; do
  if ! "$python" -c "import $module" 2>/dev/null; then
    echo "SKIP: $python has no $module (Debian: python3-$module)"
    exit 77
  fi
done

# Builds go beside setup.py (build/, *.egg-info): into a copy, never the
# source tree.
tree=$work/tree
mkdir "$tree"
for part in CMakeLists.txt LICENSE README.md pyproject.toml setup.py MANIFEST.in include src cmake packaging python; do
  cp -r "$source_dir/$part" "$tree/"
done
# pip's progress and the build's output go to a log, shown on failure.
quiet() {
  log=$1
  shift
  "$@" >"$log" 2>&1 || {
    cat "$log"
    fail "$*"
  }
}

# readme_block MARKER INFO: the first ```INFO block after the README line
# holding MARKER.
readme_block() {
  "$python" - "$source_dir/README.md" "$1" "$2" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
after = text[text.index(sys.argv[2]):]
print(re.search(r"^```" + sys.argv[3] + r"\n(.*?)^```$", after, flags=re.M | re.S).group(1), end="")
PY
}

echo "== the README's install commands, as written"
readme_block "<!-- the install commands" sh >"$work/install.sh"
cat "$work/install.sh"
(cd "$tree" && quiet "$work/readme-install.log" sh -eu "$work/install.sh")
mkdir "$work/from-tree"
cp "$tree"/dist/*.whl "$work/from-tree/"
echo "== sdist, then a wheel from the sdist alone"
(cd "$tree" && quiet "$work/sdist.log" "$python" -c \
  'import sys; from setuptools import build_meta; print(build_meta.build_sdist(sys.argv[1]))' "$work/sdist")
sdist=$(ls "$work"/sdist/compatcrypt-*.tar.gz)
quiet "$work/wheel2.log" "$python" -m pip wheel --no-build-isolation --no-deps --no-index -w "$work/from-sdist" "$sdist"

tag=$("$python" -c 'import sys, sysconfig
print("cp%d%d-cp%d%d-%s" % (sys.version_info[:2] * 2 + (sysconfig.get_platform().replace("-", "_").replace(".", "_"),)))')
version=$(sed -n 's/^project(compatcrypt VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
for dir in from-tree from-sdist; do
  wheel=$work/$dir/compatcrypt-$version-$tag.whl
  [ -f "$wheel" ] || fail "$dir: no $(basename "$wheel"), found: $(ls "$work/$dir")"
done

# contents WHEEL: its files, and what it says of itself.
contents() {
  "$python" - "$1" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as wheel:
    for name in sorted(wheel.namelist()):
        print(name)
    info = [n for n in wheel.namelist() if n.endswith(".dist-info/WHEEL")][0]
    print(wheel.read(info).decode().strip())
    meta = wheel.read(info.replace("WHEEL", "METADATA")).decode()
    print("Python README as description:", "# compatcrypt for Python" in meta and "## Layout" not in meta
          and "## SQL" not in meta, "Description-Content-Type: text/markdown" in meta)
    print("licence:", [line for line in meta.splitlines() if line.startswith(("License", "Classifier: License"))])
PY
}
contents "$work/from-tree/compatcrypt-$version-$tag.whl" >"$work/tree.contents"
contents "$work/from-sdist/compatcrypt-$version-$tag.whl" >"$work/sdist.contents"
cat "$work/tree.contents"
diff -u "$work/tree.contents" "$work/sdist.contents" || fail "the sdist's wheel differs from the tree's"
# Reproducible: both wheels byte for byte, and the sdist built again.
(cd "$tree" && quiet "$work/sdist-again.log" "$python" -c \
  'import sys; from setuptools import build_meta; print(build_meta.build_sdist(sys.argv[1]))' "$work/sdist-again")
sha256sum "$work/from-tree/compatcrypt-$version-$tag.whl" "$work/from-sdist/compatcrypt-$version-$tag.whl" "$sdist" \
  "$work/sdist-again/$(basename "$sdist")"
cmp "$work/from-tree/compatcrypt-$version-$tag.whl" "$work/from-sdist/compatcrypt-$version-$tag.whl" ||
  fail "the wheel from the sdist is not the wheel from the tree, byte for byte"
cmp "$sdist" "$work/sdist-again/$(basename "$sdist")" || fail "two sdists of the same tree differ"
for expected in compatcrypt/__init__.py compatcrypt/dask.py compatcrypt/py.typed compatcrypt/__init__.pyi \
  compatcrypt/_compatcrypt.pyi "compatcrypt-$version.dist-info/LICENSE" "Tag: $tag" "Root-Is-Purelib: false" \
  "Python README as description: True True" "licence: ['License: MIT', 'License-File: LICENSE']"; do
  grep -qxF "$expected" "$work/tree.contents" || fail "the wheel lacks: $expected"
done
grep -qx 'compatcrypt/_compatcrypt\..*\.so' "$work/tree.contents" || fail "the wheel holds no extension"

# The extension needs no library of this project and names no run path.
mkdir "$work/unpacked"
(cd "$work/unpacked" && "$python" -m zipfile -e "$work/from-tree/compatcrypt-$version-$tag.whl" .)
extension=$(ls "$work"/unpacked/compatcrypt/_compatcrypt.*.so)
if readelf -d "$extension" | grep -E 'NEEDED.*compatcrypt|RPATH|RUNPATH'; then
  fail "the extension depends on an installed library or a run path"
fi
exported=$(nm -D --defined-only "$extension" | awk '{ print $NF }')
[ "$exported" = PyInit__compatcrypt ] || fail "the extension exports more than PyInit__compatcrypt: $exported"

echo "== the README's upload of the wheel to Dask workers"
readme_block "<!-- the Dask upload" sh >"$work/unpack.sh"
readme_block "<!-- the Dask upload" py >"$work/upload.py"
cat "$work/unpack.sh" "$work/upload.py"
(cd "$tree" && quiet "$work/unpack.log" sh -eu "$work/unpack.sh")
# Debian's python3, for the client and the workers, with nothing of the
# build on the path: the workers must import the uploaded copy.
(cd "$tree" && env -u PYTHONPATH /usr/bin/python3 -c "$(cat "$work/upload.py")") >"$work/upload.out" 2>"$work/upload.log" || {
  cat "$work/upload.log"
  fail "the README's Dask upload"
}
cat "$work/upload.out"
"$python" - "$work/upload.out" "$tree/compatcrypt-wheel" <<'PY' || fail "the workers do not import the uploaded wheel"
import ast, os, sys
found = ast.literal_eval(open(sys.argv[1]).read().strip())
assert len(found) == 2, found
for path in found.values():
    assert path.endswith("/compatcrypt-wheel/compatcrypt/__init__.py") and not path.startswith(sys.argv[2]), path
PY

for dir in from-tree from-sdist; do
  echo "== the suites against the wheel $dir, installed into a fresh virtual environment"
  venv=$work/venv-$dir
  quiet "$work/venv.log" "$python" -m venv --system-site-packages "$venv"
  quiet "$work/install.log" "$venv/bin/python" -m pip install --no-deps --no-index \
    "$work/$dir/compatcrypt-$version-$tag.whl"
  # From an empty directory, with nothing of the build on the path: the
  # suites' conftest checks that the package comes from the environment.
  mkdir "$work/run-$dir"
  (cd "$work/run-$dir" && env -u PYTHONPATH COMPATCRYPT_EXPECT_PACKAGE_IN="$venv" PYTHONDONTWRITEBYTECODE=1 \
    "$venv/bin/python" -m pytest -q -rs -p no:cacheprovider --rootdir="$source_dir/tests/python" \
    "$source_dir/tests/python") || fail "the suites against the wheel $dir"
done
echo "the wheel and the sdist's wheel hold the same files; the suites pass against each, installed"
