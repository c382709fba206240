"""compatcrypt.Key: from bytes, hex and passwords (against KeyGenerating and
the tool's keygen), its secrecy in repr, equality and pickling."""

import pickle

import pytest

import compatcrypt

# Short passwords are filled to 8 bytes, longer ones folded; NUL bytes count
# as bytes; a str counts as its UTF-8 bytes.
PASSWORDS = [
    b"",
    b"a",
    b"secret",
    b"sevench",
    b"eight ch",
    b"a much longer password, folded",
    b"nul\0inside",
    bytes(range(256)),
]


@pytest.mark.parametrize("password", PASSWORDS, ids=lambda p: f"{len(p)}-bytes")
def test_password_key_is_key_generating(clib, password):
    key = compatcrypt.Key.from_password(password)
    assert bytes(key) == clib.keygen(password)
    assert compatcrypt.Key.from_password(bytearray(password)) == key


def test_str_password_is_its_utf8(clib):
    password = "pässwörd ✓"
    assert bytes(compatcrypt.Key.from_password(password)) == clib.keygen(password.encode())


@pytest.mark.parametrize("password", ["secret", "x", "a longer password of the tool"])
def test_password_key_agrees_with_the_tool(tool, password):
    env = {"COMPATCRYPT_TEST_PW": password}
    printed = tool.run("keygen", "--password-env", "COMPATCRYPT_TEST_PW", env=env)
    assert compatcrypt.Key.from_password(password).hex() == printed.decode().strip()


def test_bytes_hex_and_back(rng):
    raw = rng.randbytes(16)
    key = compatcrypt.Key(raw)
    assert bytes(key) == raw and key.hex() == raw.hex()
    assert compatcrypt.Key.from_hex(raw.hex().upper()) == key
    assert compatcrypt.Key(memoryview(raw)) == key


@pytest.mark.parametrize(
    "make, argument, error",
    [
        (compatcrypt.Key, b"x" * 15, ValueError),
        (compatcrypt.Key, b"x" * 17, ValueError),
        (compatcrypt.Key, "0123456789abcdef", TypeError),
        (compatcrypt.Key.from_hex, "00" * 15, ValueError),
        (compatcrypt.Key.from_hex, "00" * 17, ValueError),
        (compatcrypt.Key.from_hex, "0g" + "00" * 15, ValueError),
        (compatcrypt.Key.from_hex, " 0" + "00" * 15, ValueError),
        (compatcrypt.Key.from_password, 12345, TypeError),
    ],
)
def test_unusable_key_material(make, argument, error):
    with pytest.raises(error):
        make(argument)


def test_repr_does_not_show_the_key():
    key = compatcrypt.Key(bytes(range(0x41, 0x51)))  # printable bytes: "ABCD..."
    shown = repr(key) + str(key)
    assert key.hex() not in shown and "ABCD" not in shown
    assert key.hex().upper() not in shown


def test_equality_and_hash(rng):
    raw = rng.randbytes(16)
    a, b = compatcrypt.Key(raw), compatcrypt.Key(bytes(raw))
    other = compatcrypt.Key(raw[:-1] + bytes([raw[-1] ^ 1]))
    assert a == b and hash(a) == hash(b) and len({a, b, other}) == 2
    assert a != other
    assert a != raw  # a key is not its bytes


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickled_key_codes_as_the_original(clib, rng, protocol):
    key = compatcrypt.Key(rng.randbytes(16))
    copy = pickle.loads(pickle.dumps(key, protocol))
    assert type(copy) is compatcrypt.Key and copy == key
    data = rng.randbytes(45)
    assert compatcrypt.encode(data, copy) == clib.encode(data, bytes(key))
