"""No message of the module shows an argument's value: every callable, given
arguments of the wrong types or count with a recognisable secret among
them, raises an error whose text, repr and chained errors hold neither the
secret nor its hex or repr forms."""

import pytest

import compatcrypt

SECRET = b"card 4111-1111-1111-1111"
SECRET_KEY = bytes(range(0xA0, 0xB0))
KEY = compatcrypt.Key(SECRET_KEY)
FORMS = [
    SECRET.decode(),
    SECRET.hex(),
    repr(SECRET),
    SECRET_KEY.hex(),
    repr(SECRET_KEY),
    "4111",
]

CALLS = {
    "encode, swapped": lambda: compatcrypt.encode(KEY, SECRET),
    "decode, key as hex text": lambda: compatcrypt.decode(SECRET, SECRET_KEY.hex()),
    "decode, key as bytes": lambda: compatcrypt.decode(SECRET, SECRET_KEY),
    "encode, keyword": lambda: compatcrypt.encode(SECRET, key=SECRET.decode()),
    "encode, one argument too many": lambda: compatcrypt.encode(SECRET, KEY, SECRET),
    "encode_batch, key as hex text": lambda: compatcrypt.encode_batch([SECRET], SECRET_KEY.hex()),
    "encode_batch, key first, records as text": lambda: compatcrypt.encode_batch(KEY, SECRET.decode()),
    "decode_batch, key as bytes": lambda: compatcrypt.decode_batch([SECRET], SECRET_KEY),
    "encode_batch_flat, key as bytes": lambda: compatcrypt.encode_batch_flat(SECRET, [0, 24], SECRET_KEY),
    "decode_batch_flat, key and offsets swapped": lambda: compatcrypt.decode_batch_flat(SECRET, KEY, [0, 24]),
    "decode_batch_flat, key first, offsets as text": lambda: compatcrypt.decode_batch_flat(KEY, SECRET, SECRET.decode()),
    "digest, text": lambda: compatcrypt.digest(SECRET.decode()),
    "digest, too many": lambda: compatcrypt.digest(SECRET, SECRET),
    "file_digest, bytes offset": lambda: compatcrypt.file_digest("/dev/null", SECRET),
    "Key, text": lambda: compatcrypt.Key(SECRET.decode()),
    "Key, wrong length": lambda: compatcrypt.Key(SECRET),
    "Key.from_hex, bytes": lambda: compatcrypt.Key.from_hex(SECRET_KEY),
    "Key.from_hex, bad hex": lambda: compatcrypt.Key.from_hex(SECRET.decode()),
    "Key.from_password, number": lambda: compatcrypt.Key.from_password(SECRET, SECRET),
    "Key.from_password, lone surrogate": lambda: compatcrypt.Key.from_password(SECRET.decode() + "\udcff"),
    "Encoder, raw key": lambda: compatcrypt.Encoder(SECRET_KEY),
    "Decoder, hex key": lambda: compatcrypt.Decoder(SECRET_KEY.hex()),
    "Encoder.update, text": lambda: compatcrypt.Encoder(KEY).update(SECRET.decode()),
    "Decoder.update, too many": lambda: compatcrypt.Decoder(KEY).update(SECRET, SECRET),
    "Digest, text": lambda: compatcrypt.Digest(SECRET.decode()),
    "Digest.update, text": lambda: compatcrypt.Digest().update(SECRET.decode()),
}


def messages(error):
    """The texts of an error and of every error chained to it."""
    seen = []
    while error is not None and error not in seen:
        seen.append(error)
        error = error.__cause__ or error.__context__
    return [text for e in seen for text in (str(e), repr(e))]


@pytest.mark.filterwarnings("ignore:.*takes the key after the data:DeprecationWarning")
@pytest.mark.parametrize("name", CALLS)
def test_errors_show_no_argument_values(name):
    with pytest.raises((TypeError, ValueError, compatcrypt.Error)) as raised:
        CALLS[name]()
    for text in messages(raised.value):
        for form in FORMS:
            assert form not in text, (name, text)


def test_type_errors_still_say_what_was_expected():
    with pytest.raises(TypeError) as raised:
        compatcrypt.decode(SECRET, SECRET_KEY.hex())
    text = str(raised.value)
    assert "decode()" in text and "key: compatcrypt._compatcrypt.Key" in text
    assert "(bytes, str)" in text
