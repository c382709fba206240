"""Long calls stop on Ctrl-C: a file digest of an endless device, the
coding of a large buffer, an update of a streaming object, a batch. Each is
worked on in pieces, and between two pieces the main thread asks Python
whether a signal is pending. A stopped call raises KeyboardInterrupt,
leaves a streaming object as it was, and never blocks on a FIFO. Inputs
longer than a piece give the C library's bytes, however they are cut."""

import errno
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import compatcrypt

# A generous bound on a loaded machine; the measured figure is printed.
BOUND = 5.0
BIG = 300 << 20
PIECE = 1 << 20

# Each call runs in a child process, so that one that cannot be stopped
# is killed after the bound instead of hanging the suite.
CALLS = {
    "file_digest /dev/zero": "compatcrypt.file_digest('/dev/zero')",
    "encode 300 MB": "compatcrypt.encode(big, key)",
    "decode 300 MB": "compatcrypt.decode(big, key)",
    "Encoder.update 300 MB": "compatcrypt.Encoder(key).update(big)",
    "Decoder.update 300 MB": "compatcrypt.Decoder(key).update(big)",
    "digest 16 GiB": "compatcrypt.digest(huge)",
    "Digest.update 16 GiB": "compatcrypt.Digest().update(huge)",
    "Digest(data) 16 GiB": "compatcrypt.Digest(huge)",
    "encode_batch of one 300 MB record": "compatcrypt.encode_batch([big], key)",
    "encode_batch of 300 1 MB records": "compatcrypt.encode_batch([big[i << 20:(i + 1) << 20] for i in range(300)], key)",
    "decode_batch_flat 300 MB": "compatcrypt.decode_batch_flat(big, numpy.array([0, 5, len(big)]), key)",
    "encode_batch_flat in place": "compatcrypt.encode_batch_flat(flat, numpy.array([0, len(flat)]), key, out=flat)",
}

CHILD = textwrap.dedent(
    """
    import sys, time, numpy, compatcrypt
    key = compatcrypt.Key.from_password("stop")
    big = bytes({big})
    # Digests run at gigabytes a second: 16 GiB of zero pages, which the
    # system maps on reading without using memory.
    huge = numpy.zeros(16 << 30, numpy.uint8) if "huge" in sys.argv[1] else b""
    flat = bytearray(big) if "flat" in sys.argv[1] else b""
    print("ready", flush=True)
    try:
        exec(sys.argv[1])
    except KeyboardInterrupt:
        print("stopped", time.monotonic(), flush=True)
    else:
        print("finished", flush=True)
    """
).format(big=BIG)


@pytest.mark.parametrize("name", CALLS)
def test_ctrl_c_stops_a_long_call(name):
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD, CALLS[name]], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    )
    try:
        assert child.stdout.readline().strip() == "ready", child.stderr.read()
        time.sleep(0.3)  # well inside the call
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=BOUND)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        pytest.fail(f"{name}: still running {BOUND} s after SIGINT")
    words = out.split()
    assert words and words[0] == "stopped", (out, err)
    waited = float(words[1]) - sent
    print(f"{name}: KeyboardInterrupt {waited * 1000:.1f} ms after SIGINT")
    assert waited < BOUND


def interrupt_soon(delay=0.2):
    """SIGINT to this process from a timer thread; Python runs the handler,
    which raises KeyboardInterrupt, on the main thread."""
    timer = threading.Timer(delay, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    return timer


@pytest.mark.parametrize("kind", [compatcrypt.Encoder, compatcrypt.Decoder])
def test_a_stopped_update_leaves_the_coder_as_it_was(clib, rng, kind):
    raw = rng.randbytes(16)
    key = compatcrypt.Key(raw)
    coder = kind(key)
    head = rng.randbytes(13)  # 5 bytes held back
    first = coder.update(head)
    timer = interrupt_soon()
    with pytest.raises(KeyboardInterrupt):
        coder.update(bytes(BIG))
        time.sleep(BOUND)  # reached only if the update was not stopped
    timer.join()
    tail = rng.randbytes(30)
    joined = first + coder.update(tail) + coder.finish()
    reference = clib.encode if kind is compatcrypt.Encoder else clib.decode
    assert joined == reference(head + tail, raw)


def test_a_stopped_digest_update_leaves_the_digest_as_it_was(clib):
    stream = compatcrypt.Digest(b"prefix")
    timer = interrupt_soon()
    with pytest.raises(KeyboardInterrupt):
        stream.update(np.zeros(16 << 30, np.uint8))
        time.sleep(BOUND)
    timer.join()
    stream.update(b" and the rest")
    assert stream.digest() == clib.digest(b"prefix and the rest")


def test_a_fifo_without_writer_is_refused_at_once(tmp_path):
    # In a child: a call that waited for a writer would never return.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    code = textwrap.dedent(
        """
        import sys, time, compatcrypt
        start = time.monotonic()
        try:
            compatcrypt.file_digest(sys.argv[1])
        except compatcrypt.Error as e:
            print(time.monotonic() - start, e.errno, e.code, e.filename == sys.argv[1], isinstance(e, OSError))
        """
    )
    try:
        out = subprocess.run([sys.executable, "-c", code, str(fifo)], capture_output=True, text=True, timeout=BOUND)
    except subprocess.TimeoutExpired:
        pytest.fail("file_digest of a FIFO without writer waits for one")
    seconds, number, result, named, oserror = out.stdout.split()
    print(f"FIFO refused after {float(seconds) * 1000:.2f} ms")
    assert (int(number), int(result), named, oserror) == (errno.ESPIPE, compatcrypt.RESULT_FAILED, "True", "True")


# Inputs longer than a piece are cut into pieces: the bytes are the C
# library's all the same, at and around the cuts.
LENGTHS = [PIECE - 1, PIECE, PIECE + 1, 2 * PIECE + 13]


@pytest.mark.parametrize("length", LENGTHS)
def test_inputs_of_several_pieces_are_the_c_functions(clib, rng, length):
    raw = rng.randbytes(16)
    key = compatcrypt.Key(raw)
    data = rng.randbytes(length)
    encoded = clib.encode(data, raw)
    assert compatcrypt.encode(data, key) == encoded
    assert compatcrypt.decode(encoded, key) == data
    assert compatcrypt.digest(data) == clib.digest(data)
    stream = compatcrypt.Digest(b"x")
    stream.update(data)
    assert stream.digest() == clib.digest(b"x" + data)
    encoder = compatcrypt.Encoder(key)
    assert encoder.update(data[:5]) + encoder.update(data[5:]) + encoder.finish() == encoded


def test_batches_with_records_longer_than_a_piece(clib, rng):
    raw = rng.randbytes(16)
    key = compatcrypt.Key(raw)
    records = [rng.randbytes(n) for n in (7, PIECE + 3, 0, 100, PIECE // 2, PIECE // 2 + 9, 2 * PIECE + 1, 1)]
    encoded = [clib.encode(r, raw) for r in records]
    assert compatcrypt.encode_batch(records, key) == encoded
    assert compatcrypt.decode_batch(encoded, key) == records
    offsets = np.cumsum([0] + [len(r) for r in records], dtype=np.int64)
    data = bytearray(b"".join(records))
    assert bytes(compatcrypt.encode_batch_flat(data, offsets, key)) == b"".join(encoded)
    compatcrypt.encode_batch_flat(data, offsets, key, out=data)
    assert bytes(data) == b"".join(encoded)


def test_files_of_several_pieces_are_file_digest(clib, tmp_path, rng):
    path = tmp_path / "pieces.bin"
    path.write_bytes(rng.randbytes(3 * PIECE + 77))
    for offset in (0, 1, PIECE, 2 * PIECE + 100):
        assert compatcrypt.file_digest(path, offset) == clib.file_digest(path, offset)[1]
