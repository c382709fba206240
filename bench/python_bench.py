#!/usr/bin/env python3
"""The Python module's costs beside their natural peers, measured in one run:

  digest(64 B)      compatcrypt.digest(data) against hashlib.sha1(data).digest(),
                    the per-call cost of a short message in either module
  decode_batch      100,000 records of 100 B decoded by one decode_batch() call
                    (and by decode_batch_flat() on the same records laid out
                    back to back, into a new buffer, in place, and in place
                    by two Python threads taking half the records each)
                    against a Python loop of decode() calls

Each figure is the best of several timeit repeats (the least disturbed by
other work on the machine). Ratios above 1: the first is faster.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--repeat N]
"""

import argparse
import hashlib
import os
import sys
import timeit
from concurrent.futures import ThreadPoolExecutor

import compatcrypt


def per_call(statement, names, number, repeat, setup="pass"):
    """Seconds per execution of `statement`, best of `repeat` runs of `number`."""
    return min(timeit.repeat(statement, setup=setup, number=number, repeat=repeat, globals=names)) / number


def digest_rows(repeat):
    data = os.urandom(64)
    names = {"digest": compatcrypt.digest, "sha1": hashlib.sha1, "data": data}
    ours = per_call("digest(data)", names, 200_000, repeat)
    peer = per_call("sha1(data).digest()", names, 200_000, repeat)
    return [("digest(64 B)", ours, "hashlib.sha1(64 B).digest()", peer)]


def batch_rows(repeat, count=100_000, size=100):
    import numpy

    key = compatcrypt.Key(os.urandom(16))
    encoded = compatcrypt.encode_batch([os.urandom(size) for _ in range(count)], key)
    flat = b"".join(encoded)
    offsets = numpy.arange(0, (count + 1) * size, size, dtype=numpy.int64)
    names = {
        "decode": compatcrypt.decode,
        "decode_batch": compatcrypt.decode_batch,
        "decode_batch_flat": compatcrypt.decode_batch_flat,
        "key": key,
        "encoded": encoded,
        "flat": flat,
        "offsets": offsets,
    }
    loop = per_call("[decode(r, key) for r in encoded]", names, 1, repeat)
    batch = per_call("decode_batch(encoded, key)", names, 1, repeat)
    flat_batch = per_call("decode_batch_flat(flat, offsets, key)", names, 1, repeat)
    # In place on a fresh copy of the records (made outside the timing).
    copy = "data = bytearray(flat)"
    in_place = per_call("decode_batch_flat(data, offsets, key, out=data)", names, 1, repeat, copy)
    # Two threads on halves of the records, in place: the call releases the
    # GIL, so the halves run side by side.
    half = count // 2
    with ThreadPoolExecutor(2) as pool:
        names.update(pool=pool, halves=(offsets[: half + 1], offsets[half:]))
        threads = per_call(
            "list(pool.map(lambda part: decode_batch_flat(data, part, key, out=data), halves))",
            names,
            1,
            repeat,
            copy,
        )
    what = f"{count:,} x {size} B"
    return [
        (f"decode_batch, {what}", batch, "loop of decode()", loop),
        (f"decode_batch_flat, {what}", flat_batch, "loop of decode()", loop),
        (f"decode_batch_flat in place, {what}", in_place, "loop of decode()", loop),
        (f"the same, 2 threads, {what}", threads, "loop of decode()", loop),
    ]


def show(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="timeit repeats; the best counts (default 5)")
    args = parser.parse_args()

    print(f"compatcrypt {compatcrypt.__version__}, {compatcrypt.engines()}")
    print(f"Python {sys.version.split()[0]}, {hashlib.sha1().name} from {getattr(hashlib, '__file__', '?')}")
    rows = digest_rows(args.repeat) + batch_rows(args.repeat)
    width = max(len(r[0]) for r in rows)
    peer_width = max(len(r[2]) for r in rows)
    for name, ours, peer_name, peer in rows:
        print(
            f"{name:<{width}}  {show(ours):>9}   {peer_name:<{peer_width}}  {show(peer):>9}"
            f"   ratio {peer / ours:6.2f}"
        )


if __name__ == "__main__":
    main()
