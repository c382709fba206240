"""compatcrypt.dask on a local cluster of two worker processes: digests of
a few hundred files and coding of a few thousand records, every result
compared with the compatcrypt tool and the C functions."""

import logging
import random

import dask.bag
import dask.dataframe
import distributed
import numpy
import pandas
import pytest

import compatcrypt
import compatcrypt.dask

# Debian's tornado under distributed 2022.12 warns on every cluster start.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    # The workers are new processes: they find compatcrypt through the
    # PYTHONPATH they inherit from this one (set by ctest), and the library
    # through the extension's run path.
    with distributed.LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        dashboard_address=":0",  # any free port: tests may run side by side
        local_directory=str(tmp_path_factory.mktemp("dask-workers")),
        silence_logs=logging.ERROR,
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def where_compatcrypt_is():
    import compatcrypt

    return compatcrypt.__file__


def test_workers_import_the_module(client):
    found = client.run(where_compatcrypt_is)
    assert list(found.values()) == [compatcrypt.__file__] * 2


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """300 files, sizes around the block (64 bytes), the closing block's room
    for the count, and a few pages."""
    rng = random.Random("files")
    sizes = [0, 1, 2, 55, 56, 57, 63, 64, 65, 127, 128, 129, 4095, 4096, 4097, 10000]
    directory = tmp_path_factory.mktemp("files")
    paths = []
    for i in range(300):
        path = directory / f"file-{i:03d}-{sizes[i % len(sizes)]}.bin"
        path.write_bytes(rng.randbytes(sizes[i % len(sizes)]))
        paths.append(path)
    return paths


@pytest.mark.parametrize("offset", [0, 60])
def test_digest_files(client, files, tool, clib, offset):
    digests = compatcrypt.dask.digest_files(files, offset=offset, client=client, files_per_task=16)
    assert digests == tool.digests(files, offset)
    assert digests == [clib.file_digest(p, offset)[1] for p in files]


def test_digest_files_failure_reaches_the_client(client, files):
    with pytest.raises(compatcrypt.Error) as raised:
        compatcrypt.dask.digest_files([files[0], files[0].parent / "missing"], client=client)
    assert raised.value.code == compatcrypt.RESULT_FAILED


@pytest.fixture(scope="module")
def table(clib):
    """3000 records (every length from 0 to 7 among them, and longer ones
    with and without tails), plain and encoded by the C function."""
    rng = random.Random("records")
    old, new = rng.randbytes(16), rng.randbytes(16)
    plain = [rng.randbytes(i if i < 8 else rng.randrange(0, 300)) for i in range(3000)]
    encoded = [clib.encode(p, old) for p in plain]
    return {"plain": plain, "encoded": encoded, "old": old, "new": new}


def to_series(values, npartitions=7):
    frame = pandas.DataFrame({"id": range(len(values)), "payload": pandas.Series(values, dtype=object)})
    return dask.dataframe.from_pandas(frame, npartitions=npartitions)["payload"]


# Every value pandas counts as missing stays missing, in its place.
MISSING = [None, float("nan"), pandas.NA, pandas.NaT, numpy.nan]


def test_decode_series(client, table, clib):
    column = list(table["encoded"])
    gaps = {5: 0, 100: 1, 101: 2, 1500: 3, 2999: 4}
    for i, kind in gaps.items():
        column[i] = MISSING[kind]
    decoded = compatcrypt.dask.decode_series(to_series(column), compatcrypt.Key(table["old"]))
    result = client.compute(decoded).result()
    assert list(result.index) == list(range(len(column)))
    for i, kind in gaps.items():
        assert pandas.isna(result[i]), (i, result[i])
        assert type(result[i]) is type(MISSING[kind])
    present = [i for i in range(len(column)) if i not in gaps]
    assert [result[i] for i in present] == [clib.decode(column[i], table["old"]) for i in present]
    assert [result[i] for i in present] == [table["plain"][i] for i in present]


def test_missing_records_in_bags(client, table):
    records = [table["encoded"][0], *MISSING, table["encoded"][1]]
    decoded = client.compute(
        compatcrypt.dask.decode_bag(dask.bag.from_sequence(records, npartitions=2), compatcrypt.Key(table["old"])),
        sync=True,
    )
    assert decoded[0] == table["plain"][0] and decoded[-1] == table["plain"][1]
    assert all(pandas.isna(value) for value in decoded[1:-1])


@pytest.mark.parametrize(
    "files_per_task, error",
    [(0, ValueError), (-3, ValueError), (1.5, TypeError), ("8", TypeError), (True, TypeError)],
)
def test_digest_files_refuses_bad_task_sizes(files, files_per_task, error):
    with pytest.raises(error, match="files_per_task"):
        compatcrypt.dask.digest_files(files[:3], files_per_task=files_per_task)


def test_encode_and_reencode_series(client, table, clib):
    old, new = compatcrypt.Key(table["old"]), compatcrypt.Key(table["new"])
    encoded = compatcrypt.dask.encode_series(to_series(table["plain"]), old)
    moved = compatcrypt.dask.reencode_series(to_series(table["encoded"]), old, new)
    encoded, moved = client.compute([encoded, moved], sync=True)
    assert encoded.tolist() == table["encoded"]
    assert moved.tolist() == [clib.encode(p, table["new"]) for p in table["plain"]]


def test_bags(client, table, clib):
    old, new = compatcrypt.Key(table["old"]), compatcrypt.Key(table["new"])
    encoded_bag = dask.bag.from_sequence(table["encoded"], npartitions=5)
    decoded, moved, encoded = client.compute(
        [
            compatcrypt.dask.decode_bag(encoded_bag, old),
            compatcrypt.dask.reencode_bag(encoded_bag, old, new),
            compatcrypt.dask.encode_bag(dask.bag.from_sequence(table["plain"], npartitions=4), old),
        ],
        sync=True,
    )
    assert decoded == [clib.decode(e, table["old"]) for e in table["encoded"]] == table["plain"]
    assert moved == [clib.encode(p, table["new"]) for p in table["plain"]]
    assert encoded == table["encoded"]


def test_records_agree_with_the_tool(client, table, tool):
    # The tool codes one file a run: one record of each length from 0 to 24
    # and a few longer ones.
    old = compatcrypt.Key(table["old"])
    picked = sorted({len(p): i for i, p in enumerate(table["plain"])}.items())
    sample = [i for length, i in picked if length <= 24 or length % 50 == 0]
    records = dask.bag.from_sequence([table["encoded"][i] for i in sample], npartitions=3)
    decoded = compatcrypt.dask.decode_bag(records, old)
    for i, record in zip(sample, client.compute(decoded, sync=True)):
        assert record == tool.code("decode", table["encoded"][i], old)
        assert table["encoded"][i] == tool.code("encode", table["plain"][i], old)


CARD = b"CARD 4111-1111-1111-1111 PLAIN"


@pytest.mark.parametrize(
    "call",
    [
        lambda: compatcrypt.dask.encode_series(to_series([b"a"]), b"0123456789abcdef"),
        lambda: compatcrypt.dask.decode_series(to_series([b"a"]), "00" * 16),
        lambda: compatcrypt.dask.reencode_series(to_series([b"a"]), compatcrypt.Key(bytes(range(1, 17))), None),
        lambda: compatcrypt.dask.encode_bag(dask.bag.from_sequence([b"a"]), bytes(16)),
        lambda: compatcrypt.dask.reencode_bag(dask.bag.from_sequence([b"a"]), "old", compatcrypt.Key(bytes(range(1, 17)))),
        lambda: compatcrypt.dask.encode_series(pandas.Series([b"a"]), compatcrypt.Key(bytes(range(1, 17)))),
        lambda: compatcrypt.dask.decode_bag([b"a"], compatcrypt.Key(bytes(range(1, 17)))),
        lambda: compatcrypt.dask.digest_files("df/plain"),
        lambda: compatcrypt.dask.digest_files(b"df/plain"),
        lambda: compatcrypt.dask.digest_files(__import__("pathlib").Path("df/plain")),
        lambda: compatcrypt.dask.digest_files(["a"], offset="0"),
        lambda: compatcrypt.dask.digest_files([1234]),
    ],
    ids=["series bytes key", "series hex key", "reencode None key", "bag bytes key", "reencode str key",
         "pandas series", "list as bag", "paths as str", "paths as bytes", "paths as Path", "offset as str",
         "path as int"],
)
def test_arguments_are_checked_on_the_client(call):
    # Raised by the call itself, before any graph is built or computed.
    with pytest.raises(TypeError) as raised:
        call()
    assert "df/plain" not in str(raised.value) or "sequence" in str(raised.value)


@pytest.fixture
def logging_cluster(tmp_path):
    # Warnings kept, so that the workers' logs hold what Dask logs of a
    # failed task.
    with distributed.LocalCluster(
        n_workers=1,
        threads_per_worker=1,
        processes=True,
        dashboard_address=":0",
        local_directory=str(tmp_path),
        silence_logs=logging.WARNING,
    ) as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.mark.parametrize("helper", ["encode_series", "decode_bag"])
def test_a_failed_task_shows_no_record_in_errors_or_logs(logging_cluster, capfd, helper):
    client = logging_cluster
    key = compatcrypt.Key(bytes(range(1, 17)))
    records = [CARD, "a str", CARD + b" again"]
    if helper == "encode_series":
        collection = compatcrypt.dask.encode_series(to_series(records, npartitions=1), key)
    else:
        collection = compatcrypt.dask.decode_bag(dask.bag.from_sequence(records, npartitions=1), key)
    with pytest.raises(TypeError) as raised:
        client.compute(collection, sync=True)
    texts = [str(raised.value), repr(raised.value)]
    logs = client.get_worker_logs()
    texts += [message for lines in logs.values() for _, message in lines]
    texts.append("".join(capfd.readouterr()))
    assert any("Compute Failed" in t for t in texts), "the failure was not logged where the test reads"
    for text in texts:
        for secret in (CARD.decode(), "4111", CARD.hex(), key.hex()):
            assert secret not in text, text


def test_ctrl_c_stops_local_digests_and_their_threads():
    # Without a client the digests run on threads of this process, which
    # receive no signals: Ctrl-C stops the wait, and the threads' digests of
    # an endless device stop with it, so that the threads are free for the
    # next call instead of reading on.
    import subprocess
    import sys
    import textwrap

    code = textwrap.dedent(
        """
        import os, signal, sys, threading, time, compatcrypt.dask
        # Dask's own imports first: an interrupt in the middle of them would
        # leave its modules half made for the second call.
        import dask.bag
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            compatcrypt.dask.digest_files(["/dev/zero"] * 8, files_per_task=1)
        except KeyboardInterrupt:
            start = time.monotonic()
            compatcrypt.dask.digest_files([sys.argv[1]])
            print("stopped", time.monotonic() - start)
        """
    )
    try:
        result = subprocess.run([sys.executable, "-c", code, __file__], capture_output=True, text=True, timeout=10)
    except subprocess.TimeoutExpired:
        pytest.fail("the threads did not stop: the next digest_files waits for them")
    words = result.stdout.split()
    assert words[:1] == ["stopped"], result.stdout + result.stderr
    print(f"the next digest_files took {float(words[1]) * 1000:.1f} ms")
