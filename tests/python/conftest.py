"""Fixtures of the Python suites. The build registers the suites in ctest
with the environment they read: COMPATCRYPT_C_LIBRARY (libcompatcrypt.so.1
of the build tree), COMPATCRYPT_TOOL (the compatcrypt program, when built),
COMPATCRYPT_TEST_DATA (tests/data) and COMPATCRYPT_README."""

import os
import random
import subprocess

import pytest

from clib import CLibrary, KeyRules


def pytest_sessionstart(session):
    """Run against an installed package (COMPATCRYPT_EXPECT_PACKAGE_IN names
    its environment), the suites must import that package and nothing of
    the build tree."""
    where = os.environ.get("COMPATCRYPT_EXPECT_PACKAGE_IN")
    if where:
        import compatcrypt

        path = os.path.realpath(compatcrypt.__file__)
        if not path.startswith(os.path.realpath(where) + os.sep):
            pytest.exit(f"compatcrypt comes from {path}, not from {where}", returncode=1)


def _environment(name):
    value = os.environ.get(name)
    if not value:
        pytest.fail(f"{name} is not set: run the suites through ctest")
    return value


@pytest.fixture(scope="session")
def clib():
    return CLibrary(_environment("COMPATCRYPT_C_LIBRARY"))


@pytest.fixture(scope="session")
def rules():
    """The library's key rules, asked of libcompatcrypt-cxx.so.1 directly."""
    return KeyRules(_environment("COMPATCRYPT_CXX_LIBRARY"))


@pytest.fixture(scope="session")
def data_dir():
    return _environment("COMPATCRYPT_TEST_DATA")


@pytest.fixture(scope="session")
def readme():
    return _environment("COMPATCRYPT_README")


class Tool:
    """The compatcrypt command-line tool, run as a process."""

    def __init__(self, path):
        self.path = path

    def run(self, *args, env=None, stdin=None):
        result = subprocess.run(
            [self.path, *map(str, args)],
            input=stdin,
            capture_output=True,
            env={**os.environ, **(env or {})},
            check=False,
        )
        assert result.returncode == 0, result.stderr.decode(errors="replace")
        return result.stdout

    def digests(self, paths, offset=0):
        """The digests the tool prints for the files (HEX  NAME lines), in order."""
        lines = self.run("digest", "-j1", "--offset", offset, *paths).decode().splitlines()
        assert len(lines) == len(paths)
        result = []
        for line, path in zip(lines, paths):
            hex_digest, name = line.split("  ", 1)
            assert name == str(path)
            result.append(bytes.fromhex(hex_digest))
        return result

    def code(self, command, data, key):
        """encode or decode of one buffer, the key passed in the environment."""
        env = {"COMPATCRYPT_TEST_KEY": key.hex()}
        return self.run(command, "--key-env", "COMPATCRYPT_TEST_KEY", env=env, stdin=data)


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("COMPATCRYPT_TOOL")
    if not path:
        pytest.skip("the compatcrypt tool is not built (COMPATCRYPT_BUILD_TOOLS=OFF)")
    return Tool(path)


@pytest.fixture
def rng(request):
    """Random bytes seeded by the test's name: each test sees the same data on every run."""
    return random.Random(request.node.nodeid)
