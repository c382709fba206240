#!/bin/sh
# The package as Python users get it, from a copy of the source tree
# holding what a clone holds:
#   - `pip wheel` of the tree, offline (--no-build-isolation, Debian's
#     setuptools, wheel and pybind11): one wheel, for this interpreter and
#     platform, holding the package and the extension with the C++ library
#     linked in (no libcompatcrypt needed, no run path);
#   - an sdist, and a wheel built from nothing but the sdist: the same files;
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

echo "== wheel from the tree"
quiet "$work/wheel.log" "$python" -m pip wheel --no-build-isolation --no-deps --no-index -w "$work/from-tree" "$tree"
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
    print("README as description:", "## Layout" in meta, "Content-Type: text/markdown" in meta)
PY
}
contents "$work/from-tree/compatcrypt-$version-$tag.whl" >"$work/tree.contents"
contents "$work/from-sdist/compatcrypt-$version-$tag.whl" >"$work/sdist.contents"
cat "$work/tree.contents"
diff -u "$work/tree.contents" "$work/sdist.contents" || fail "the sdist's wheel differs from the tree's"
for expected in compatcrypt/__init__.py compatcrypt/dask.py compatcrypt/py.typed compatcrypt/__init__.pyi \
  compatcrypt/_compatcrypt.pyi "compatcrypt-$version.dist-info/LICENSE" "Tag: $tag" "Root-Is-Purelib: false" \
  "README as description: True True"; do
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
