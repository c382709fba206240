"""Batches, as a list of records and flat (one buffer and Arrow-style
offsets): every record coded exactly as the single calls code it."""

import array
import inspect

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
    assert batch(records, key) == [single(r, key) for r in records]


@pytest.mark.parametrize("batch, single", BATCHES)
def test_each_short_record_alone(key, rng, batch, single):
    for length in range(8):
        record = rng.randbytes(length)
        assert batch([record], key) == [single(record, key)]


@pytest.mark.parametrize("batch", [compatcrypt.encode_batch, compatcrypt.decode_batch])
def test_empty_batch(key, batch):
    assert batch([], key) == []


def test_batch_round_trip_to_a_new_key(clib, key, records, rng):
    new_key = compatcrypt.Key(rng.randbytes(16))
    encoded = [clib.encode(r, bytes(key)) for r in records]
    moved = compatcrypt.encode_batch(compatcrypt.decode_batch(encoded, key), new_key)
    assert moved == [clib.encode(r, bytes(new_key)) for r in records]


def test_any_iterable_and_buffer_kinds(key, rng):
    plain = [rng.randbytes(n) for n in (0, 5, 16, 33)]
    kinds = [plain[0], bytearray(plain[1]), memoryview(plain[2]), np.frombuffer(plain[3], dtype=np.uint8)]
    expected = [compatcrypt.encode(p, key) for p in plain]
    assert compatcrypt.encode_batch(kinds, key) == expected
    assert compatcrypt.encode_batch(tuple(kinds), key) == expected
    assert compatcrypt.encode_batch((k for k in kinds), key) == expected


def test_a_record_that_is_not_bytes_is_named(key):
    with pytest.raises(TypeError, match=r"buffers\[2\]"):
        compatcrypt.encode_batch([b"a", b"b", "c"], key)
    with pytest.raises(TypeError):
        compatcrypt.encode_batch(5, key)


@pytest.mark.parametrize("flat, single", FLAT)
@pytest.mark.parametrize("offset_type", [np.int64, np.int32])
def test_flat_is_the_single_calls(key, records, flat, single, offset_type):
    data, offsets = flatten(records)
    out = flat(data, offsets.astype(offset_type), key)
    assert isinstance(out, bytearray) and len(out) == len(data)
    assert [bytes(out[a:b]) for a, b in zip(offsets[:-1], offsets[1:])] == [single(r, key) for r in records]


@pytest.mark.parametrize("flat, single", FLAT)
def test_flat_offsets_from_array_module(key, rng, flat, single):
    records = [rng.randbytes(n) for n in (3, 0, 17)]
    data = b"".join(records)
    for typecode in ("q", "i"):
        out = flat(data, array.array(typecode, [0, 3, 3, 20]), key)
        assert bytes(out) == b"".join(single(r, key) for r in records)


@pytest.mark.parametrize("flat, single", FLAT)
def test_flat_in_place(key, records, flat, single):
    data, offsets = flatten(records)
    for buffer in (bytearray(data), np.frombuffer(data, dtype=np.uint8).copy()):
        assert flat(buffer, offsets, key, out=buffer) is buffer
        assert bytes(buffer) == b"".join(single(r, key) for r in records)


@pytest.mark.parametrize("flat, single", FLAT)
def test_flat_slice_of_a_larger_column(key, rng, flat, single):
    # A sliced Arrow column: offsets start past 0 and end before the data does.
    # The bytes outside the records belong to no record: never copied into an
    # output apart from data, where a plain byte would pass for a coded one
    # (zeros in a new buffer, untouched in `out`), left as they are in place.
    head, tail = rng.randbytes(11), rng.randbytes(6)
    records = [rng.randbytes(n) for n in (9, 2, 24)]
    data = head + b"".join(records) + tail
    offsets = np.array([11, 20, 22, 46], dtype=np.int64)
    coded = b"".join(single(r, key) for r in records)
    assert bytes(flat(data, offsets, key)) == bytes(11) + coded + bytes(6)
    out = np.full(len(data), 0xEE, dtype=np.uint8)
    flat(data, offsets, key, out=out)
    assert out.tobytes() == b"\xee" * 11 + coded + b"\xee" * 6
    buffer = bytearray(data)
    flat(buffer, offsets, key, out=buffer)
    assert bytes(buffer) == head + coded + tail


@pytest.mark.parametrize("flat", [compatcrypt.encode_batch_flat, compatcrypt.decode_batch_flat])
def test_no_plain_byte_outside_the_records_reaches_a_new_output(key, flat):
    # The tail after the last offset, and bytes before the first, are never
    # copied from data into an output apart from it.
    data = b"A" * 100 + b"PLAINTEXT-TAIL"
    for offsets in (np.array([0, 50, 100]), np.array([14, 50, 114]), np.array([7, 7])):
        result = bytes(flat(data, offsets, key))
        assert b"PLAINTEXT" not in result and b"AAAA" not in result, offsets


@pytest.mark.parametrize("flat", [compatcrypt.encode_batch_flat, compatcrypt.decode_batch_flat])
def test_flat_with_no_records(key, flat):
    assert flat(b"", np.zeros(1, dtype=np.int64), key) == bytearray()
    assert flat(b"abc", np.array([1], dtype=np.int32), key) == bytearray(3)


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
        flat(data, offsets, key, out=out)
    if isinstance(out, bytearray):
        assert bytes(out) == before


def test_flat_out_overlapping_data_is_refused(key):
    buffer = bytearray(32)
    view = memoryview(buffer)
    with pytest.raises(ValueError, match="apart"):
        compatcrypt.encode_batch_flat(view[:16], np.array([0, 16]), key, out=view[8:24])


def parameters(function):
    """A public callable's parameter names, from its signature line (the
    extension's functions carry one in their first docstring line)."""
    try:
        return list(inspect.signature(function).parameters)
    except (TypeError, ValueError):
        line = function.__doc__.splitlines()[0]
        inside = line[line.index("(") + 1 : line.rindex(")")]
        return [p.split(":")[0].split("=")[0].strip() for p in inside.split(",") if p.strip()]


def public_callables():
    import compatcrypt.dask

    for module in (compatcrypt, compatcrypt.dask):
        for name in module.__all__:
            value = getattr(module, name)
            if callable(value) and not isinstance(value, type):
                yield f"{module.__name__}.{name}", value


def test_every_call_takes_the_data_first_and_the_key_after():
    """A key never comes before data: only options with defaults
    (``out``) may follow it."""
    keyed = 0
    for name, function in public_callables():
        names = parameters(function)
        keys = [i for i, p in enumerate(names) if p.endswith("key")]
        if not keys:
            continue
        keyed += 1
        data = [i for i, p in enumerate(names) if not p.endswith("key") and p != "out"]
        assert data and max(data) < min(keys), (name, names)
    assert keyed >= 12  # the six coding calls here and the six in compatcrypt.dask


KEY_FIRST = [
    (compatcrypt.encode_batch, lambda f, k, d, o: f(k, [d[:5], d])),
    (compatcrypt.decode_batch, lambda f, k, d, o: f(k, [d[:5], d])),
    (compatcrypt.encode_batch_flat, lambda f, k, d, o: bytes(f(k, d, o))),
    (compatcrypt.decode_batch_flat, lambda f, k, d, o: bytes(f(k, d, o, bytearray(len(d))))),
]
DATA_FIRST = {
    compatcrypt.encode_batch: lambda f, k, d, o: f([d[:5], d], k),
    compatcrypt.decode_batch: lambda f, k, d, o: f([d[:5], d], k),
    compatcrypt.encode_batch_flat: lambda f, k, d, o: bytes(f(d, o, k)),
    compatcrypt.decode_batch_flat: lambda f, k, d, o: bytes(f(d, o, k, bytearray(len(d)))),
}


@pytest.mark.parametrize("function, call", KEY_FIRST)
def test_a_key_given_first_is_taken_as_the_key_with_a_warning(key, rng, function, call):
    """A Key is not a buffer, so a batch call with the key first means one
    thing: it gives the bytes of the data-first call and warns at the
    caller's line, naming the order to write but no argument's value."""
    data = rng.randbytes(45)
    offsets = np.array([0, 5, 45])
    with pytest.warns(DeprecationWarning, match="takes the key after the data") as caught:
        result = call(function, key, data, offsets)
    assert result == DATA_FIRST[function](function, key, data, offsets)
    assert len(caught) == 1 and caught[0].filename == __file__
    assert data.hex() not in str(caught[0].message) and key.hex() not in str(caught[0].message)


def test_keywords_in_any_order(key, records):
    expected = compatcrypt.encode_batch(records, key)
    assert compatcrypt.encode_batch(key=key, buffers=records) == expected
    data, offsets = flatten(records)
    assert compatcrypt.encode_batch_flat(key=key, offsets=offsets, data=data) == b"".join(expected)
    with pytest.raises(TypeError):  # the key twice, by place and by name
        compatcrypt.encode_batch(key, key=key)


@pytest.mark.filterwarnings("error")
def test_a_key_alone_is_a_missing_argument_not_the_key_first_order(key):
    with pytest.raises(TypeError):
        compatcrypt.encode_batch(key)
    with pytest.raises(TypeError):
        compatcrypt.decode_batch_flat(key, b"12345678")
