"""encode(), decode() and the streaming Encoder and Decoder against the C
functions, the NIST two-key CBC vectors of tests/data and the tool."""

import os

import pytest

import compatcrypt

# Empty, the 1 to 7-byte inputs, whole blocks with and without tails, and
# lengths past the point where decoding moves to the bitsliced engines.
LENGTHS = [*range(0, 18), 23, 24, 25, 63, 64, 65, 255, 256, 257, 1000, 4099, 65536 + 3]


def key_bytes(rng, zero_at=None):
    raw = bytearray(rng.randbytes(16))
    for i, b in enumerate(raw):
        raw[i] = b or 1
    if zero_at is not None:
        # Each DES key stops at its first zero byte: every byte after it counts as zero.
        raw[zero_at] = 0
    return bytes(raw)


@pytest.mark.parametrize("length", LENGTHS)
def test_encode_and_decode_are_the_c_functions(clib, rng, length):
    raw = key_bytes(rng)
    key, data = compatcrypt.Key(raw), rng.randbytes(length)
    encoded = compatcrypt.encode(data, key)
    assert encoded == clib.encode(data, raw)
    assert compatcrypt.decode(encoded, key) == data
    assert compatcrypt.decode(data, key) == clib.decode(data, raw)


@pytest.mark.parametrize("zero_at", [0, 1, 6, 7, 14, 15])
def test_keys_with_zero_bytes(clib, rng, zero_at):
    raw = key_bytes(rng, zero_at)
    data = rng.randbytes(37)
    assert compatcrypt.encode(data, compatcrypt.Key(raw)) == clib.encode(data, raw)
    assert compatcrypt.decode(data, compatcrypt.Key(raw)) == clib.decode(data, raw)


def read_cavp(path):
    """The [ENCRYPT] and [DECRYPT] records of a CAVP response file."""
    records, encrypt = [], True
    with open(path, encoding="ascii") as lines:
        for line in lines:
            line = line.strip()
            if line in ("[ENCRYPT]", "[DECRYPT]"):
                encrypt = line == "[ENCRYPT]"
            elif line.startswith("COUNT"):
                records.append({"encrypt": encrypt})
            elif " = " in line and records:
                name, value = line.split(" = ")
                records[-1][name] = bytes.fromhex(value)
    return records


def test_nist_two_key_cbc_vectors(data_dir):
    # Keying option 2 (KEY1 = KEY3) in CBC with an IV: the library chains from a
    # zero IV, so the IV is folded into the first plain block. The 16-byte key
    # interleaves the outer key (even bytes) and the middle key (odd bytes).
    records = read_cavp(os.path.join(data_dir, "tdes", "TCBCMMT2.rsp"))
    assert len(records) == 20
    for r in records:
        assert r["KEY1"] == r["KEY3"]
        key = compatcrypt.Key(bytes(b for pair in zip(r["KEY1"], r["KEY2"]) for b in pair))
        first = bytes(a ^ b for a, b in zip(r["PLAINTEXT"][:8], r["IV"]))
        plain = first + r["PLAINTEXT"][8:]
        if r["encrypt"]:
            assert compatcrypt.encode(plain, key) == r["CIPHERTEXT"]
        else:
            assert compatcrypt.decode(r["CIPHERTEXT"], key) == plain


STREAMS = [(compatcrypt.Encoder, compatcrypt.encode), (compatcrypt.Decoder, compatcrypt.decode)]


def test_nist_two_key_ecb_vectors(data_dir):
    # Each 8-byte block alone is one cipher block from a zero IV: ECB.
    records = read_cavp(os.path.join(data_dir, "tdes", "TECBMMT2.rsp"))
    assert len(records) == 20
    for r in records:
        key = compatcrypt.Key(bytes(b for pair in zip(r["KEY1"], r["KEY2"]) for b in pair))
        if r["encrypt"]:
            source, target, batch = r["PLAINTEXT"], r["CIPHERTEXT"], compatcrypt.encode_batch
        else:
            source, target, batch = r["CIPHERTEXT"], r["PLAINTEXT"], compatcrypt.decode_batch
        blocks = [source[i : i + 8] for i in range(0, len(source), 8)]
        assert b"".join(batch(blocks, key)) == target


@pytest.mark.parametrize("coder, one_shot", STREAMS)
def test_streaming_equals_one_shot_at_every_cut(rng, coder, one_shot):
    key = compatcrypt.Key(key_bytes(rng))
    for length in [0, 5, 8, 13, 40, 131]:
        data = rng.randbytes(length)
        expected = one_shot(data, key)
        for cut in range(length + 1):
            stream = coder(key)
            out = stream.update(data[:cut])
            assert len(out) == cut // 8 * 8  # only whole blocks come out before finish()
            out += stream.update(data[cut:]) + stream.finish()
            assert out == expected, (length, cut)


@pytest.mark.parametrize("coder, one_shot", STREAMS)
def test_finish_starts_a_new_message(rng, coder, one_shot):
    key = compatcrypt.Key(key_bytes(rng))
    stream = coder(key)
    for length in [21, 3, 64, 0, 9]:
        data = rng.randbytes(length)
        pieces = [data[i : i + 5] for i in range(0, length, 5)]
        assert b"".join(stream.update(p) for p in pieces) + stream.finish() == one_shot(data, key)


@pytest.mark.parametrize("length", [0, 3, 8, 20, 1000])
def test_coding_agrees_with_the_tool(tool, rng, length):
    key = compatcrypt.Key(key_bytes(rng))
    data = rng.randbytes(length)
    assert compatcrypt.encode(data, key) == tool.code("encode", data, key)
    assert compatcrypt.decode(data, key) == tool.code("decode", data, key)


@pytest.mark.parametrize(
    "call",
    [
        lambda k: compatcrypt.encode(b"data", b"0123456789abcdef"),
        lambda k: compatcrypt.decode("text", k),
        lambda k: compatcrypt.Encoder(k).update("text"),
        lambda k: compatcrypt.Decoder(None),
    ],
)
def test_wrong_argument_types(rng, call):
    with pytest.raises(TypeError):
        call(compatcrypt.Key(key_bytes(rng)))
