"""What Python expects of any module, tried as a careless or hostile user
would: objects made without their constructor, pickling at every protocol,
buffers whose items are not plain bytes, file names that are not UTF-8, a
single str or buffer where a sequence is expected. Cases that used to abort
the interpreter run in a child process, so that a regression fails the test
instead of the suite."""

import errno
import os
import pickle
import subprocess
import sys
import textwrap
import warnings

import numpy as np
import pytest

import compatcrypt

KEY_BYTES = bytes(range(0xA1, 0xB1))
KEY = compatcrypt.Key(KEY_BYTES)

# Every method and property of each class, called on an instance that
# __new__ alone made; each must raise TypeError.
UNCONSTRUCTED = {
    "Key": ["k.hex()", "bytes(k)", "k.bytes_in_effect", "hash(k)", "k == k", "repr(k)",
            "compatcrypt.encode(b'x' * 64, k)", "compatcrypt.decode(b'x', k)", "compatcrypt.Encoder(k)",
            "compatcrypt.encode_batch([b'x'], k)", "compatcrypt.decode_batch_flat(b'xy', [0, 2], k)",
            "pickle.dumps(k)", "compatcrypt.Key(b'0' * 16) == k"],
    "Digest": ["k.update(b'x' * 4096)", "k.digest()", "k.hexdigest()", "k.copy()", "k.digest_size", "k.name",
               "k.block_size"],
    "Encoder": ["k.update(b'x' * 64)", "k.finish()"],
    "Decoder": ["k.update(b'x' * 64)", "k.finish()"],
}
CASES = [(cls, call) for cls, calls in UNCONSTRUCTED.items() for call in calls]


def run_child(code):
    """Runs code in a child interpreter; its exit code and output."""
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout + result.stderr


@pytest.mark.parametrize("cls, call", CASES, ids=[f"{c}: {m}" for c, m in CASES])
def test_an_object_made_by_new_alone_raises_type_error(cls, call):
    status, out = run_child(
        f"""
        import array, pickle, compatcrypt
        k = compatcrypt.{cls}.__new__(compatcrypt.{cls})
        try:
            print(repr({call}))
        except TypeError as e:
            print("TypeError:", e)
        """
    )
    assert status == 0, out
    assert out.startswith("TypeError:"), out
    if "pickle" not in call:
        assert "not initialized" in out, out


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("make", ["Digest(b'x')", "Encoder(compatcrypt.Key(bytes(range(1, 17))))",
                                  "Decoder(compatcrypt.Key(bytes(range(1, 17))))", "Digest().__reduce__()"])
def test_streaming_objects_refuse_pickling_at_every_protocol(make, protocol):
    call = f"compatcrypt.{make}" if "__reduce__" in make else f"pickle.dumps(compatcrypt.{make}, {protocol})"
    status, out = run_child(
        f"""
        import copy, pickle, compatcrypt
        try:
            {call}
        except TypeError as e:
            print("TypeError:", e)
        """
    )
    assert status == 0 and out.startswith("TypeError: cannot pickle 'compatcrypt."), out


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_a_key_pickles_with_its_bytes_at_every_protocol(clib, protocol):
    # The README says so: a pickled key is the secret itself.
    data = pickle.dumps(KEY, protocol)
    copy = pickle.loads(data)
    assert type(copy) is compatcrypt.Key and copy == KEY
    assert compatcrypt.encode(b"pickled key!", copy) == clib.encode(b"pickled key!", KEY_BYTES)
    if protocol >= 3:  # older protocols write bytes through latin-1 text
        assert KEY_BYTES in data


# How NumPy dtypes reach the calls: plain items are taken as their bytes,
# anything else is refused with TypeError naming the buffer's format.
TAKEN = ["uint8", "int8", "int16", "uint16", "int32", "uint32", "int64", "uint64", "float16", "float32",
         "float64", "complex64", "complex128", "bool", "S5", ">i4", "<f8"]
REFUSED = {
    "object": "O",
    "U3": "3w",
    "longdouble": "g",
    "clongdouble": "Zg",
    "V4": "4x",
    "a,u2": "T{",
}


@pytest.mark.parametrize("dtype", TAKEN)
def test_numpy_arrays_of_plain_items_are_their_bytes(clib, dtype):
    array = np.frombuffer(bytes(range(200)) * 2, dtype=np.uint8)[: 400 - 400 % np.dtype(dtype).itemsize]
    array = array.view(dtype)
    raw = array.tobytes()
    assert compatcrypt.digest(array) == clib.digest(raw)
    assert compatcrypt.encode(array, KEY) == clib.encode(raw, KEY_BYTES)


def refused_array(dtype):
    if dtype == "a,u2":
        return np.zeros(4, dtype=[("a", "u1"), ("b", "u2")])
    if dtype == "object":
        return np.array([b"abc", b"defgh", None], dtype=object)
    return np.zeros(4, dtype=dtype)


CALLS = {
    "digest": lambda a: compatcrypt.digest(a),
    "Digest": lambda a: compatcrypt.Digest(a),
    "encode": lambda a: compatcrypt.encode(a, KEY),
    "decode": lambda a: compatcrypt.decode(a, KEY),
    "Encoder.update": lambda a: compatcrypt.Encoder(KEY).update(a),
    "Key": lambda a: compatcrypt.Key(a),
    "Key.from_password": lambda a: compatcrypt.Key.from_password(a),
    "encode_batch record": lambda a: compatcrypt.encode_batch([b"ok", a], KEY),
    "encode_batch_flat data": lambda a: compatcrypt.encode_batch_flat(a, np.array([0, 0]), KEY),
    "decode_batch_flat out": lambda a: compatcrypt.decode_batch_flat(b"\0" * a.nbytes, np.array([0, 0]), KEY, out=a),
}


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("dtype", REFUSED)
def test_buffers_of_other_formats_are_refused_naming_the_format(dtype, call):
    with pytest.raises(TypeError, match=f"format '{REFUSED[dtype]}".replace("{", r"\{")):
        CALLS[call](refused_array(dtype))


def test_pointers_and_pandas_object_columns_are_refused():
    pandas = pytest.importorskip("pandas")
    with pytest.raises(TypeError, match="format 'O'"):
        compatcrypt.encode(pandas.Series([b"abc", b"defgh"]).values, KEY)
    with pytest.raises(TypeError, match="format 'P'"):
        compatcrypt.digest(memoryview(bytes(16)).cast("P"))


# File names as open() takes them. A name that cannot be decoded as UTF-8
# reaches the system unchanged, and a failure names it as given.
NAMES = {
    "bytes, not UTF-8": lambda d: os.path.join(os.fsencode(d), b"missing\xff"),
    "str with a surrogate escape": lambda d: os.path.join(d, "missing\udcff"),
    "bytes path-like": lambda d: BytesPath(os.path.join(os.fsencode(d), b"missing\xfe")),
}


class BytesPath:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize("kind", NAMES)
def test_missing_files_by_any_name_are_os_errors(tmp_path, kind):
    name = NAMES[kind](str(tmp_path))
    with pytest.raises(compatcrypt.Error) as raised:
        compatcrypt.file_digest(name)
    error = raised.value
    assert isinstance(error, OSError)
    assert (error.errno, error.strerror, error.code) == (errno.ENOENT, os.strerror(errno.ENOENT), compatcrypt.RESULT_FAILED)
    assert error.filename == os.fspath(name)
    str(error).encode("utf-8")  # printable whatever the name's bytes
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.errno, copy.filename, copy.code, str(copy)) == (
        compatcrypt.Error, error.errno, error.filename, error.code, str(error))


@pytest.mark.parametrize("kind", NAMES)
def test_files_by_any_name_are_digested(clib, tmp_path, kind):
    name = NAMES[kind](str(tmp_path))
    with open(name, "wb") as file:
        file.write(b"a file whose name is not UTF-8")
    assert compatcrypt.file_digest(name) == clib.file_digest(os.fsencode(os.fspath(name)))[1]


@pytest.mark.parametrize("target, number", [("directory", errno.EISDIR), ("unreadable", errno.EACCES)])
def test_other_failures_carry_their_errno(tmp_path, target, number):
    path = tmp_path / target
    if target == "directory":
        path.mkdir()
    else:
        if os.geteuid() == 0:
            pytest.skip("root reads any file")
        path.write_bytes(b"x")
        path.chmod(0)
    with pytest.raises(compatcrypt.Error) as raised:
        compatcrypt.file_digest(path)
    assert raised.value.errno == number and raised.value.filename == os.fspath(path)


# A str or a buffer given where a sequence of records is expected would be
# taken as a sequence of characters or numbers.
NOT_SEQUENCES = {
    "str": "abcdef",
    "bytes": b"abcdef",
    "bytearray": bytearray(b"abcdef"),
    "memoryview": memoryview(b"abcdef"),
    "numpy uint8": np.frombuffer(b"abcdef", dtype=np.uint8),
}


@pytest.mark.parametrize("batch", [compatcrypt.encode_batch, compatcrypt.decode_batch])
@pytest.mark.parametrize("kind", NOT_SEQUENCES)
def test_a_single_str_or_buffer_is_not_a_sequence_of_records(batch, kind):
    with pytest.raises(TypeError, match="sequence of bytes-like objects"):
        batch(NOT_SEQUENCES[kind], KEY)


def test_an_object_array_is_a_sequence_of_records(clib):
    records = np.array([b"abc", b"defghijkl"], dtype=object)
    assert compatcrypt.encode_batch(records, KEY) == [clib.encode(r, KEY_BYTES) for r in records]


def test_no_warning_from_plain_use():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        compatcrypt.decode(compatcrypt.encode(b"plain use", KEY), KEY)
        compatcrypt.Key.from_password("a password")
