"""Every call reads any C-contiguous bytes-like object as its raw bytes,
and refuses what is not one run of bytes."""

import array

import numpy as np
import pytest

import compatcrypt

PLAIN = bytes(range(256)) * 3 + b"tail"


def kinds(data):
    """The same bytes in every kind of exporter the calls must take."""
    return {
        "bytes": data,
        "bytearray": bytearray(data),
        "memoryview": memoryview(data),
        "memoryview-slice": memoryview(b"xx" + data + b"yy")[2:-2],
        "numpy-uint8": np.frombuffer(data, dtype=np.uint8),
        "numpy-int32": np.frombuffer(data, dtype=np.int32),
        "numpy-2d": np.frombuffer(data, dtype=np.uint8).reshape(4, -1),
        "array-int16": array.array("h", data),
    }


KEY = compatcrypt.Key.from_password("buffers")
CALLS = {
    "digest": compatcrypt.digest,
    "Digest": lambda d: compatcrypt.Digest(d).digest(),
    "Digest.update": lambda d: (lambda s: (s.update(d), s.digest())[1])(compatcrypt.Digest()),
    "encode": lambda d: compatcrypt.encode(d, KEY),
    "decode": lambda d: compatcrypt.decode(d, KEY),
    "Encoder": lambda d: (lambda s: s.update(d) + s.finish())(compatcrypt.Encoder(KEY)),
    "Decoder": lambda d: (lambda s: s.update(d) + s.finish())(compatcrypt.Decoder(KEY)),
    "encode_batch": lambda d: compatcrypt.encode_batch([d], KEY)[0],
    "decode_batch_flat": lambda d: bytes(
        compatcrypt.decode_batch_flat(d, np.array([0, 100, len(PLAIN)]), KEY)
    ),
    "Key.from_password": lambda d: bytes(compatcrypt.Key.from_password(d)),
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
@pytest.mark.parametrize("kind", kinds(PLAIN).keys())
def test_every_kind_reads_as_bytes(call, kind):
    assert call(kinds(PLAIN)[kind]) == call(PLAIN)


def test_key_from_any_kind():
    raw = bytes(range(16))
    for data in kinds(raw).values():
        assert compatcrypt.Key(data) == compatcrypt.Key(raw)


NOT_CONTIGUOUS = {
    "memoryview-step": memoryview(PLAIN)[::2],
    "numpy-step": np.frombuffer(PLAIN, dtype=np.uint8)[::2],
    "numpy-fortran": np.asfortranarray(np.frombuffer(PLAIN, dtype=np.uint8)[:768].reshape(16, 48)),
}
NOT_BYTES = {"str": "text", "int": 5, "none": None, "list": [1, 2, 3]}


UNUSABLE = [
    pytest.param(call, data, error, id=f"{name}-{kind}")
    for name, call in CALLS.items()
    for kinds_of, error in ((NOT_CONTIGUOUS, ValueError), (NOT_BYTES, TypeError))
    for kind, data in kinds_of.items()
    if not (name == "Key.from_password" and kind == "str")  # a str password is its UTF-8 bytes
]


@pytest.mark.parametrize("call, data, error", UNUSABLE)
def test_what_is_not_one_run_of_bytes_is_refused(call, data, error):
    with pytest.raises(error):
        call(data)


def test_output_buffers_of_every_writable_kind():
    offsets = np.array([0, 100, len(PLAIN)])
    expected = compatcrypt.encode_batch_flat(PLAIN, offsets, KEY)
    size = len(PLAIN)
    for out in (bytearray(size), np.zeros(size, dtype=np.uint8), memoryview(bytearray(size))):
        assert bytes(compatcrypt.encode_batch_flat(PLAIN, offsets, KEY, out=out)) == expected
