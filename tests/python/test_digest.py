"""digest(), the streaming Digest and file_digest() against the C functions
MessageDigest and FileDigest, and the tool's digest command."""

import os
import pathlib

import pytest

import compatcrypt

# Around the block (64), the closing block's room for the count (55/56/57),
# two blocks, and lengths the vector engines run in several passes.
LENGTHS = [0, 1, 3, 55, 56, 57, 63, 64, 65, 119, 120, 121, 127, 128, 129, 1000, 2047, 2048, 4096, 65537]


@pytest.mark.parametrize("length", LENGTHS)
def test_digest_is_message_digest(clib, rng, length):
    # Random bytes: half of them are 0x80 or more, which the digest packs sign-extended.
    data = rng.randbytes(length)
    assert compatcrypt.digest(data) == clib.digest(data)


@pytest.mark.parametrize("length", [0, 64, 130, 300])
def test_digest_of_every_two_piece_cut(clib, rng, length):
    data = rng.randbytes(length)
    expected = clib.digest(data)
    for cut in range(length + 1):
        stream = compatcrypt.Digest(data[:cut])
        stream.update(data[cut:])
        assert stream.digest() == expected, cut


def test_digest_of_many_small_pieces(clib, rng):
    data = rng.randbytes(5000)
    stream, position = compatcrypt.Digest(), 0
    while position < len(data):
        step = rng.randrange(0, 150)
        stream.update(data[position : position + step])
        position += step
    assert stream.digest() == clib.digest(data)


def test_digest_leaves_the_stream_open(clib, rng):
    first, second = rng.randbytes(100), rng.randbytes(70)
    stream = compatcrypt.Digest(first)
    assert stream.digest() == stream.digest() == clib.digest(first)
    assert stream.hexdigest() == clib.digest(first).hex()
    stream.update(second)
    assert stream.digest() == clib.digest(first + second)


def test_copy_carries_on_independently(clib, rng):
    prefix, a, b = rng.randbytes(90), rng.randbytes(10), rng.randbytes(200)
    stream = compatcrypt.Digest(prefix)
    fork = stream.copy()
    stream.update(a)
    fork.update(b)
    assert stream.digest() == clib.digest(prefix + a)
    assert fork.digest() == clib.digest(prefix + b)


def test_hashlib_style_attributes():
    stream = compatcrypt.Digest()
    assert (stream.digest_size, stream.block_size, stream.name) == (20, 64, "compatcrypt")
    assert len(stream.digest()) == stream.digest_size == compatcrypt.DIGEST_SIZE


@pytest.fixture
def sample_file(tmp_path, rng):
    path = tmp_path / "sample.bin"
    path.write_bytes(rng.randbytes(300))
    return path


@pytest.mark.parametrize("offset", [0, 1, 63, 64, 65, 299, 300, 301, 2**31 - 1])
def test_file_digest_is_file_digest(clib, sample_file, offset):
    code, expected = clib.file_digest(sample_file, offset)
    assert code == 1
    assert compatcrypt.file_digest(sample_file, offset) == expected


# Offsets are file offsets, up to 2**63 - 1: past the end of a small file
# each digests no bytes, those whose low 32 bits are small or negative too.
@pytest.mark.parametrize("offset", [2**31, 2**32, 2**32 + 5, 2**32 + 63, 2**40 + 1, 2**63 - 1])
def test_offsets_past_the_end_digest_no_bytes(clib, sample_file, offset):
    assert compatcrypt.file_digest(sample_file, offset) == clib.digest(b"")


def test_offsets_past_four_gib_of_a_sparse_file(clib, tmp_path, rng):
    """Data 4 GiB into a sparse file: from each offset, MessageDigest of the
    bytes from there (zeros of the hole, then the data)."""
    data = rng.randbytes(100)
    path = tmp_path / "sparse.bin"
    with open(path, "wb") as file:
        try:
            file.truncate(2**32 + len(data))
        except OSError as error:
            pytest.skip(f"the file system refuses a file of 4 GiB: {error}")
        file.seek(2**32)
        file.write(data)
    if os.stat(path).st_blocks * 512 > 2**30:
        pytest.skip("the file system does not keep the hole sparse")
    for offset, rest in [
        (2**32 - 70, bytes(70) + data),
        (2**32, data),
        (2**32 + 1, data[1:]),
        (2**32 + 36, data[36:]),
        (2**32 + 43, data[43:]),
        (2**32 + 100, b""),
    ]:
        assert compatcrypt.file_digest(path, offset) == clib.digest(rest), offset


@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.Path])
def test_file_digest_path_kinds(clib, sample_file, kind):
    assert compatcrypt.file_digest(kind(str(sample_file))) == clib.file_digest(sample_file)[1]


def test_file_digest_agrees_with_the_tool(tool, tmp_path, rng):
    paths = []
    for size in [0, 1, 63, 64, 65, 4096, 10000]:
        path = tmp_path / f"file-{size}"
        path.write_bytes(rng.randbytes(size))
        paths.append(path)
    for offset in [0, 5, 64]:
        assert [compatcrypt.file_digest(p, offset) for p in paths] == tool.digests(paths, offset)


@pytest.mark.parametrize("target", ["missing", "directory"])
def test_unreadable_files_raise_the_library_code(clib, tmp_path, target):
    path = tmp_path / target
    if target == "directory":
        path.mkdir()
    code, _ = clib.file_digest(path)
    with pytest.raises(compatcrypt.Error) as raised:
        compatcrypt.file_digest(path)
    assert raised.value.code == code == compatcrypt.RESULT_FAILED
    assert str(path) in str(raised.value)


@pytest.mark.parametrize(
    "path, offset, error",
    [
        ("file", -1, ValueError),
        ("file", -(2**32), ValueError),
        ("file", 2**63, ValueError),
        ("file", 2**64, ValueError),
        ("file", 1.0, TypeError),
        ("file", "1", TypeError),
        ("fi\0le", 0, ValueError),
        (3, 0, TypeError),
        (None, 0, TypeError),
    ],
)
def test_unusable_file_arguments(sample_file, path, offset, error):
    with pytest.raises(error):
        compatcrypt.file_digest(sample_file.parent / path if isinstance(path, str) else path, offset)
