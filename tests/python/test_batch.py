"""Batches, as a list of records and flat (one buffer and Arrow-style
offsets): every record coded exactly as the single calls code it."""

import array

import numpy as np
import pytest

import compatcrypt

BATCHES = [(compatcrypt.encode_batch, compatcrypt.encode), (compatcrypt.decode_batch, compatcrypt.decode)]
FLAT = [
    (compatcrypt.encode_batch_flat, compatcrypt.encode),
    (compatcrypt.decode_batch_flat, compatcrypt.decode),
]


@pytest.fixture
def key(rng):
    return compatcrypt.Key(rng.randbytes(16))


@pytest.fixture
def records(rng):
    """Every length from 0 to 7 (no cipher block), then lengths with and
    without tails, more records than the widest engine has lanes."""
    sizes = [*range(8), *(rng.randrange(0, 300) for _ in range(700))]
    return [rng.randbytes(n) for n in sizes]


def flatten(records):
    data = b"".join(records)
    offsets = np.cumsum([0, *map(len, records)], dtype=np.int64)
    return data, offsets


@pytest.mark.parametrize("batch, single", BATCHES)
def test_batch_is_the_single_calls(key, records, batch, single):
    assert batch(key, records) == [single(r, key) for r in records]


@pytest.mark.parametrize("batch, single", BATCHES)
def test_each_short_record_alone(key, rng, batch, single):
    for length in range(8):
        record = rng.randbytes(length)
        assert batch(key, [record]) == [single(record, key)]


@pytest.mark.parametrize("batch", [compatcrypt.encode_batch, compatcrypt.decode_batch])
def test_empty_batch(key, batch):
    assert batch(key, []) == []


def test_batch_round_trip_to_a_new_key(clib, key, records, rng):
    new_key = compatcrypt.Key(rng.randbytes(16))
    encoded = [clib.encode(r, bytes(key)) for r in records]
    moved = compatcrypt.encode_batch(new_key, compatcrypt.decode_batch(key, encoded))
    assert moved == [clib.encode(r, bytes(new_key)) for r in records]


def test_any_iterable_and_buffer_kinds(key, rng):
    plain = [rng.randbytes(n) for n in (0, 5, 16, 33)]
    kinds = [plain[0], bytearray(plain[1]), memoryview(plain[2]), np.frombuffer(plain[3], dtype=np.uint8)]
    expected = [compatcrypt.encode(p, key) for p in plain]
    assert compatcrypt.encode_batch(key, kinds) == expected
    assert compatcrypt.encode_batch(key, tuple(kinds)) == expected
    assert compatcrypt.encode_batch(key, (k for k in kinds)) == expected


def test_a_record_that_is_not_bytes_is_named(key):
    with pytest.raises(TypeError, match=r"buffers\[2\]"):
        compatcrypt.encode_batch(key, [b"a", b"b", "c"])
    with pytest.raises(TypeError):
        compatcrypt.encode_batch(key, 5)


@pytest.mark.parametrize("flat, single", FLAT)
@pytest.mark.parametrize("offset_type", [np.int64, np.int32])
def test_flat_is_the_single_calls(key, records, flat, single, offset_type):
    data, offsets = flatten(records)
    out = flat(key, data, offsets.astype(offset_type))
    assert isinstance(out, bytearray) and len(out) == len(data)
    assert [bytes(out[a:b]) for a, b in zip(offsets[:-1], offsets[1:])] == [single(r, key) for r in records]


@pytest.mark.parametrize("flat, single", FLAT)
def test_flat_offsets_from_array_module(key, rng, flat, single):
    records = [rng.randbytes(n) for n in (3, 0, 17)]
    data = b"".join(records)
    for typecode in ("q", "i"):
        out = flat(key, data, array.array(typecode, [0, 3, 3, 20]))
        assert bytes(out) == b"".join(single(r, key) for r in records)


@pytest.mark.parametrize("flat, single", FLAT)
def test_flat_in_place(key, records, flat, single):
    data, offsets = flatten(records)
    for buffer in (bytearray(data), np.frombuffer(data, dtype=np.uint8).copy()):
        assert flat(key, buffer, offsets, out=buffer) is buffer
        assert bytes(buffer) == b"".join(single(r, key) for r in records)


@pytest.mark.parametrize("flat, single", FLAT)
def test_flat_slice_of_a_larger_column(key, rng, flat, single):
    # A sliced Arrow column: offsets start past 0 and end before the data does;
    # the bytes outside the records come through unchanged, apart and in place.
    head, tail = rng.randbytes(11), rng.randbytes(6)
    records = [rng.randbytes(n) for n in (9, 2, 24)]
    data = head + b"".join(records) + tail
    offsets = np.array([11, 20, 22, 46], dtype=np.int64)
    expected = head + b"".join(single(r, key) for r in records) + tail
    assert bytes(flat(key, data, offsets)) == expected
    out = np.full(len(data), 0xEE, dtype=np.uint8)
    flat(key, data, offsets, out=out)
    assert out.tobytes() == expected
    buffer = bytearray(data)
    flat(key, buffer, offsets, out=buffer)
    assert bytes(buffer) == expected


@pytest.mark.parametrize("flat", [compatcrypt.encode_batch_flat, compatcrypt.decode_batch_flat])
def test_flat_with_no_records(key, flat):
    assert flat(key, b"", np.zeros(1, dtype=np.int64)) == bytearray()
    assert flat(key, b"abc", np.array([1], dtype=np.int32)) == bytearray(b"abc")


@pytest.mark.parametrize(
    "data, offsets, out, error",
    [
        (b"abcdef", np.array([0, 4, 3, 6]), None, ValueError),  # decreasing
        (b"abcdef", np.array([-1, 6]), None, ValueError),
        (b"abcdef", np.array([0, 7]), None, ValueError),  # past the data
        (b"abcdef", np.array([], dtype=np.int64), None, ValueError),
        (b"abcdef", np.array([0.0, 6.0]), None, TypeError),
        (b"abcdef", np.array([0, 6], dtype=np.uint8), None, TypeError),
        (b"abcdef", np.array([[0, 6]]), None, TypeError),
        (b"abcdef", [0, 6], None, TypeError),
        (b"abcdef", np.array([0, 6]), bytearray(5), ValueError),  # shorter than data
        (b"abcdef", np.array([0, 6]), b"\0" * 6, TypeError),  # read-only
        ("abcdef", np.array([0, 6]), None, TypeError),
    ],
)
@pytest.mark.parametrize("flat", [compatcrypt.encode_batch_flat, compatcrypt.decode_batch_flat])
def test_flat_unusable_arguments(key, flat, data, offsets, out, error):
    before = None if out is None else bytes(out)
    with pytest.raises(error):
        flat(key, data, offsets, out=out)
    if isinstance(out, bytearray):
        assert bytes(out) == before


def test_flat_out_overlapping_data_is_refused(key):
    buffer = bytearray(32)
    view = memoryview(buffer)
    with pytest.raises(ValueError, match="apart"):
        compatcrypt.encode_batch_flat(key, view[:16], np.array([0, 16]), out=view[8:24])
