#!/bin/sh
# Installs a build into a scratch prefix and checks what a user gets:
#   - exactly the expected files, and for each install component
#     (Runtime, Development, Tool, Documentation) exactly its share;
#   - no static core, and nothing that refers to it;
#   - the SONAME links, and libraries without run paths whose exported
#     symbols do not overlap;
#   - the tool, run from the tree through its relative run path;
#   - the CMake package's version and component checks;
#   - the consumer programs, built through find_package and through
#     pkg-config (with nothing defined on the command line), one of them
#     linking both libraries;
#   - every ```c and ```cpp block of the README, built as printed both ways;
#   - where the Python module is built: the package in the interpreter's
#     site-packages under the prefix, imported from there, its extension
#     loading the tree's C++ library through its relative run path.
# Usage: package_test.sh BUILD-DIR [PACKAGE-TEST-DIR [README]]
#   PACKAGE-TEST-DIR  this directory (default: the script's own)
#   README            default: README.md of the build's source directory
# shellcheck shell=dash source=common.sh
set -eu
build=$(readlink -f "$1")
here=${2:-$(dirname "$0")}
work=$(mktemp -d)
. "$here/common.sh"
begin_on_build
readme=${3:-$(cache_value "$build" compatcrypt_SOURCE_DIR)/README.md}
case $libdir in
  /*) fail "CMAKE_INSTALL_LIBDIR is absolute ($libdir): the tree cannot be installed elsewhere" ;;
esac

runtime_files="$libdir/libcompatcrypt.so.$major
$libdir/libcompatcrypt.so.$version
$libdir/libcompatcrypt-cxx.so.$major
$libdir/libcompatcrypt-cxx.so.$version"
development_files="$includedir/compatcrypt.h
$includedir/compatcrypt.hpp
$includedir/compatcrypt_bind.h
$libdir/libcompatcrypt.so
$libdir/libcompatcrypt-cxx.so
$libdir/cmake/compatcrypt/compatcryptConfig.cmake
$libdir/cmake/compatcrypt/compatcryptConfigVersion.cmake
$libdir/cmake/compatcrypt/compatcryptTargets.cmake
$libdir/cmake/compatcrypt/compatcryptTargets-${config:-noconfig}.cmake
$libdir/pkgconfig/compatcrypt.pc
$libdir/pkgconfig/compatcrypt-cxx.pc
$libdir/pkgconfig/compatcrypt-bind.pc"
tool_files="$bindir/compatcrypt
$mandir/man1/compatcrypt.1.gz
$datarootdir/bash-completion/completions/compatcrypt
$datarootdir/zsh/vendor-completions/_compatcrypt"
documentation_files="$docdir/LICENSE"
python_files=
if [ -n "$pythondir" ]; then
  python_files="$pythondir/compatcrypt/__init__.py
$pythondir/compatcrypt/__init__.pyi
$pythondir/compatcrypt/_compatcrypt.pyi
$pythondir/compatcrypt/_compatcrypt$python_suffix
$pythondir/compatcrypt/dask.py
$pythondir/compatcrypt/py.typed"
fi

echo "== component installations"
# A component asked for by name also gets what its Debian package carries
# beside its files: copyright, changelog and lintian overrides.
while read -r component package; do
  case $component in
    Runtime) files=$runtime_files ;;
    Development) files=$development_files ;;
    Tool) files=$tool_files ;;
    Documentation) files=$documentation_files ;;
    Python) files=$python_files ;;
  esac
  [ -n "$files" ] || continue
  [ -z "$package" ] || files="$files
$datarootdir/doc/$package/copyright
$datarootdir/doc/$package/changelog.Debian.gz
$datarootdir/lintian/overrides/$package"
  cmake --install "$build" --component "$component" --prefix "$work/$component" >/dev/null </dev/null
  expect_files "component $component" "$work/$component" "$files"
done <<LIST
Runtime libcompatcrypt$major
Development libcompatcrypt-dev
Tool compatcrypt
Documentation
Python
LIST

echo "== full installation"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
expect_files "cmake --install" "$prefix" "$runtime_files
$development_files
$tool_files
$documentation_files${python_files:+
$python_files}"
check_no_core "$prefix"
check_libraries "$prefix" "$libdir" "$version"
check_symbols "$prefix/$libdir"
check_tool "$prefix" "$libdir" "$bindir" "$version"

if [ -n "$pythondir" ]; then
  echo "== Python package"
  check_python "$prefix" "$libdir" "$pythondir" "$python"
fi

echo "== CMake package and pkg-config files"
check_cmake_package "$prefix" "$version" "$libdir"
check_pkg_config "$prefix" "$libdir" "$version"

echo "== consumers through find_package and pkg-config"
build_consumers "$prefix" "$libdir" "$here/consumer"

echo "== README examples"
check_readme "$prefix" "$libdir" "$readme"

echo "package_test: the installed tree is complete and usable"
