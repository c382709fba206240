"""Builds the extension module compatcrypt._compatcrypt with CMake.

The project's CMake build makes the module with the C++ library and the
core linked in statically and their symbols kept inside it
(COMPATCRYPT_PYTHON_WHEEL), for the interpreter running this script; the
module is then put where setuptools packs it. The version is the project's,
read from CMakeLists.txt, its one place.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"project\(compatcrypt\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", text)
    if not match:
        raise RuntimeError("CMakeLists.txt: no project(compatcrypt VERSION x.y.z)")
    return match.group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DCOMPATCRYPT_PYTHON_WHEEL=ON",
            "-DCOMPATCRYPT_BUILD_PYTHON=ON",
            "-DCOMPATCRYPT_BUILD_TESTS=OFF",
            "-DCOMPATCRYPT_BUILD_BENCHMARKS=OFF",
            "-DCOMPATCRYPT_BUILD_TOOLS=OFF",
            "-DCOMPATCRYPT_BUILD_SQL=OFF",
        ]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        try:  # pybind11 from the index (a build environment); Debian's is found by CMake itself
            import pybind11

            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build), "--target", "compatcrypt_python", "-j", jobs], check=True)
        built = next((build / "python" / "compatcrypt").glob("_compatcrypt*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    version=project_version(),
    license="MIT",  # an SPDX licence expression (pyproject.toml)
    ext_modules=[CMakeExtension("compatcrypt._compatcrypt")],
    cmdclass={"build_ext": CMakeBuild},
)
