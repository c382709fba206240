"""Builds the extension module compatcrypt._compatcrypt with CMake.

The project's CMake build makes the module with the C++ library and the
core linked in statically and their symbols kept inside it
(COMPATCRYPT_PYTHON_WHEEL), for the interpreter running this script; the
module is then put where setuptools packs it. The version is the project's,
read from CMakeLists.txt, its one place.

Two builds of one commit give the same wheel and the same sdist: every
time in them is SOURCE_DATE_EPOCH (packaging/source-date-epoch.sh, the
rule the Debian packages follow), which the sdist carries in a file of
that name, and the sdist's archive is written with its members sorted,
owned by nobody in particular and compressed without a name or a time.
"""

import gzip
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.sdist import sdist

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"project\(compatcrypt\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", text)
    if not match:
        raise RuntimeError("CMakeLists.txt: no project(compatcrypt VERSION x.y.z)")
    return match.group(1)


def source_date_epoch():
    script = ROOT / "packaging" / "source-date-epoch.sh"
    return int(subprocess.run(["sh", str(script), str(ROOT)], check=True, capture_output=True, text=True).stdout)


# bdist_wheel dates every member of the wheel from this variable.
SOURCE_DATE_EPOCH = source_date_epoch()
os.environ["SOURCE_DATE_EPOCH"] = str(SOURCE_DATE_EPOCH)


def normalize_tarball(path, epoch):
    """Rewrites a .tar.gz with its members sorted, every time epoch (a
    clone's files carry the time of the clone), owner root, modes 0644 or
    0755 (umask and checkout left out), and a gzip header with no file name
    and the time epoch."""
    with tarfile.open(path, "r:gz") as old:
        members = [(info, old.extractfile(info).read() if info.isfile() else None) for info in old.getmembers()]
    members.sort(key=lambda member: member[0].name)
    with open(path, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=epoch) as packed:
        with tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as tar:
            for info, data in members:
                info.pax_headers = {}  # the old times, as decimals, are in there
                info.mtime = epoch
                info.uid = info.gid = 0
                info.uname = info.gname = "root"
                info.mode = 0o755 if info.isdir() or info.mode & 0o100 else 0o644
                tar.addfile(info, io.BytesIO(data) if data is not None else None)


class ReproducibleSdist(sdist):
    def make_release_tree(self, base_dir, files):
        super().make_release_tree(base_dir, files)
        # The time of the source, for a wheel built from the sdist alone.
        (Path(base_dir) / "SOURCE_DATE_EPOCH").write_text(f"{SOURCE_DATE_EPOCH}\n")

    def make_distribution(self):
        super().make_distribution()
        for archive in self.archive_files:
            if archive.endswith(".tar.gz"):
                normalize_tarball(archive, SOURCE_DATE_EPOCH)


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
    cmdclass={"build_ext": CMakeBuild, "sdist": ReproducibleSdist},
)
