"""The package as users meet it: names, type stubs, Dask imported only when
asked for, errors that pickle, and the README's Python examples."""

import ast
import os
import pathlib
import pickle
import re
import subprocess
import sys

import pytest

import compatcrypt

PACKAGE = pathlib.Path(compatcrypt.__file__).parent


def stub_names(path):
    """Top-level names a stub defines, and each class's members."""
    tree = ast.parse(path.read_text())
    names, members = set(), {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
        elif isinstance(node, ast.ImportFrom) and node.module == "_compatcrypt":
            names.update(alias.asname for alias in node.names)
        if isinstance(node, ast.ClassDef):
            members[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
    return names, members


def test_stubs_describe_the_module():
    names, members = stub_names(PACKAGE / "_compatcrypt.pyi")
    public = {n for n in dir(compatcrypt._compatcrypt) if not n.startswith("_")} | {"__version__"}
    assert names - {"_Out"} == public
    for cls, declared in members.items():
        runtime = {n for n in vars(getattr(compatcrypt, cls)) if not n.startswith("_")}
        declared_public = {n for n in declared if not n.startswith("_")}
        assert declared_public == runtime, cls


def test_package_stub_reexports_everything():
    names, _ = stub_names(PACKAGE / "__init__.pyi")
    assert names - {"__all__"} == set(compatcrypt.__all__) | {"__version__"}
    assert all(hasattr(compatcrypt, n) for n in compatcrypt.__all__)
    assert (PACKAGE / "py.typed").exists()


def test_import_does_not_load_dask():
    code = (
        "import sys, compatcrypt\n"
        "print(sorted(m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed', 'pandas')))"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert out.strip() == "[]"


def test_errors_pickle_with_their_code(tmp_path):
    # A failure on a Dask worker reaches the client pickled.
    with pytest.raises(compatcrypt.Error) as raised:
        compatcrypt.file_digest(tmp_path / "missing")
    copy = pickle.loads(pickle.dumps(raised.value))
    assert type(copy) is compatcrypt.Error
    assert (copy.code, str(copy)) == (raised.value.code, str(raised.value))


def readme_python_blocks(readme):
    text = pathlib.Path(readme).read_text()
    blocks = re.findall(r"^```python\n(.*?)^```$", text, flags=re.M | re.S)
    assert blocks, "no ```python block in the README"
    return blocks


def test_readme_python_examples_run_as_printed(readme, tmp_path):
    # In an empty directory holding the input files the examples name; the
    # Dask examples run on Dask's local schedulers.
    for name, size in (("archive.tar", 5000), ("other.bin", 64)):
        (tmp_path / name).write_bytes(os.urandom(size))
    for i, block in enumerate(readme_python_blocks(readme)):
        result = subprocess.run([sys.executable, "-c", block], cwd=tmp_path, capture_output=True, text=True)
        assert result.returncode == 0, f"README python block {i + 1}:\n{block}\n{result.stderr}"


def test_the_extension_exports_its_init_function_alone():
    # Nothing of the C++ library, pybind11 or the standard library: another
    # copy of them in the process neither takes the module's calls nor gets them.
    extension = compatcrypt._compatcrypt.__file__
    out = subprocess.run(["nm", "-D", "--defined-only", extension], capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in out.splitlines()] == ["PyInit__compatcrypt"]
