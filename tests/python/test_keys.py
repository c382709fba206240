"""compatcrypt.Key: from bytes, hex and passwords (against KeyGenerating and
the tool's keygen), its secrecy in repr, equality and pickling."""

import pickle
import warnings

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


# Keys whose zero bytes cut a half, and keys that only look as if they did
# (a half that is zero from its first zero byte on loses nothing).
KEYS = {
    "whole": bytes(range(1, 17)),
    "outer cut at 3": bytes([1, 2, 3, 4, 5, 6, 0, 8, 9, 10, 11, 12, 13, 14, 15, 16]),
    "middle cut at 0": bytes([1, 0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16]),
    "both cut": bytes([1, 2, 0, 4, 5, 0, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16]),
    "outer zero from byte 4": bytes([1, 2, 3, 4, 5, 6, 7, 8, 0, 10, 0, 12, 0, 14, 0, 16]),
    "all zero": bytes(16),
    "last byte": bytes(15) + b"\x01",
}


def effective(raw):
    """The key as the cipher uses it: in each half, zeros from its first zero byte on."""
    out = bytearray(raw)
    for half in (0, 1):
        cut = False
        for i in range(half, 16, 2):
            cut = cut or out[i] == 0
            if cut:
                out[i] = 0
    return bytes(out)


@pytest.mark.parametrize("name", KEYS)
def test_bytes_in_effect_and_the_warning_are_the_librarys(clib, rules, name):
    raw = KEYS[name]
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        key = compatcrypt.Key(raw)
        from_hex = compatcrypt.Key.from_hex(raw.hex())
    assert key.bytes_in_effect == from_hex.bytes_in_effect == rules.in_effect(raw)
    expected = rules.warning(raw)
    assert [str(w.message) for w in caught] == ([expected] * 2 if expected else [])
    assert all(w.category is compatcrypt.WeakKeyWarning and w.filename == __file__ for w in caught)
    # What the count means: the key codes as its bytes in effect do.
    data = b"a message of a few blocks, with a tail"
    assert compatcrypt.encode(data, key) == clib.encode(data, effective(raw))


def test_a_cut_key_can_be_made_an_error():
    with warnings.catch_warnings():
        warnings.simplefilter("error", compatcrypt.WeakKeyWarning)
        with pytest.raises(compatcrypt.WeakKeyWarning, match="key bytes are in effect"):
            compatcrypt.Key(KEYS["both cut"])
        assert compatcrypt.Key(KEYS["whole"]).bytes_in_effect == 16


@pytest.mark.parametrize("password", ["", b"", bytearray()])
def test_an_empty_password_warns_with_the_librarys_text(clib, rules, password):
    with pytest.warns(compatcrypt.WeakKeyWarning) as caught:
        key = compatcrypt.Key.from_password(password)
    assert [str(w.message) for w in caught] == [rules.message(-6)]
    assert bytes(key) == clib.keygen(b"")  # a warning, not a refusal: it works as before


@pytest.mark.parametrize("password", ["a\0b", b"a\0b", b"\0"])
def test_a_zero_byte_in_a_password_is_one_of_its_bytes(clib, password):
    # KeyGenerating takes every byte: nothing to warn about.
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        key = compatcrypt.Key.from_password(password)
    raw = password.encode() if isinstance(password, str) else password
    assert bytes(key) == clib.keygen(raw)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_an_unpickled_cut_key_does_not_warn_again(protocol):
    with pytest.warns(compatcrypt.WeakKeyWarning):
        key = compatcrypt.Key(KEYS["both cut"])
    data = pickle.dumps(key, protocol)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert pickle.loads(data) == key


def test_a_password_that_is_not_unicode_text_is_not_quoted():
    # Python's own UnicodeEncodeError quotes the character: a part of the password.
    with pytest.raises(ValueError) as raised:
        compatcrypt.Key.from_password("se\udcc3cret")
    for text in (str(raised.value), repr(raised.value), repr(raised.value.__context__)):
        assert "udcc3" not in text and "se" + "cret" not in text
    assert raised.value.__context__ is None
