"""Calls from several Python threads at once. Long inputs are worked on
with the GIL released, so these calls do run in parallel."""

import threading

import numpy as np
import pytest

import compatcrypt

THREADS = 4


def run_together(work, count=THREADS):
    """Runs work(i) on `count` threads released at once; their results."""
    barrier = threading.Barrier(count)
    results, errors = [None] * count, []

    def run(i):
        barrier.wait()
        try:
            results[i] = work(i)
        except BaseException as e:  # reported below, on the test's thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors, errors
    return results


def test_threads_get_the_results_of_the_c_functions(clib, rng):
    key_raw = rng.randbytes(16)
    key = compatcrypt.Key(key_raw)
    inputs = [rng.randbytes(n) for n in (70_000, 3_001, 100_000, 64)]
    records = [rng.randbytes(rng.randrange(0, 200)) for _ in range(2000)]
    data = b"".join(records)
    offsets = np.cumsum([0, *map(len, records)], dtype=np.int64)
    expected = [(clib.digest(x), clib.encode(x, key_raw), clib.decode(x, key_raw)) for x in inputs]
    expected_batch = [clib.decode(r, key_raw) for r in records]

    def work(i):
        out = []
        for _ in range(10):
            x = inputs[i]
            out.append((compatcrypt.digest(x), compatcrypt.encode(x, key), compatcrypt.decode(x, key)))
            assert compatcrypt.decode_batch(records, key) == expected_batch
            flat = compatcrypt.decode_batch_flat(data, offsets, key)
            assert bytes(flat) == b"".join(expected_batch)
        return out

    for i, results in enumerate(run_together(work)):
        assert results == [expected[i]] * 10


def test_one_digest_fed_by_several_threads(clib, rng):
    # The digest sums its blocks, so whole blocks fed in any order give the
    # digest of the message: updates from the threads, each whole, in
    # whatever order they were let in.
    chunks = [[rng.randbytes(4096) for _ in range(40)] for _ in range(THREADS)]
    stream = compatcrypt.Digest()

    def work(i):
        for chunk in chunks[i]:
            stream.update(chunk)

    run_together(work)
    assert stream.digest() == clib.digest(b"".join(b"".join(c) for c in chunks))


@pytest.mark.parametrize("coder", [compatcrypt.Encoder, compatcrypt.Decoder])
def test_one_coder_per_thread(clib, rng, coder):
    key_raw = rng.randbytes(16)
    messages = [rng.randbytes(50_000 + i) for i in range(THREADS)]
    c_code = clib.encode if coder is compatcrypt.Encoder else clib.decode

    def work(i):
        stream = coder(compatcrypt.Key(key_raw))
        message = messages[i]
        pieces = [stream.update(message[a : a + 999]) for a in range(0, len(message), 999)]
        return b"".join(pieces) + stream.finish()

    assert run_together(work) == [c_code(m, key_raw) for m in messages]
