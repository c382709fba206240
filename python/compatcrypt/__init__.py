"""compatcrypt: fixed-format digests, two-key triple-DES encoding and password keys.

The functions and classes come from the extension module ``_compatcrypt``
over the C++ library; every result is byte for byte what the library's C
functions give. Data arguments take any C-contiguous bytes-like object
(bytes, bytearray, memoryview, NumPy arrays, ...) without a copy; long inputs
are worked on with the GIL released, so threads run in parallel, and in
pieces, so Ctrl-C stops them.

``compatcrypt.dask`` (imported on its own, needs Dask) maps file digests and
batch coding over Dask collections.
"""

from ._compatcrypt import (
    DIGEST_SIZE,
    KEY_SIZE,
    RESULT_ERROR,
    RESULT_FAILED,
    Decoder,
    Digest,
    Encoder,
    Error,
    Key,
    WeakKeyWarning,
    __version__,
    decode,
    decode_batch,
    decode_batch_flat,
    digest,
    encode,
    encode_batch,
    encode_batch_flat,
    engines,
    file_digest,
)

import functools as _functools
import warnings as _warnings
from . import _compatcrypt


def _key_from_pickle(data):
    """A pickled Key made again from its bytes (Key.__reduce_ex__), without
    a second WeakKeyWarning: whoever made the key was told."""
    return Key._from_pickle(data)


# A call with arguments of the wrong types is reported by the binding with
# the values it was given ("Invoked with: b'card 4111...', '0011...'"): data,
# keys and passwords, in a message that may reach a log. The message here
# keeps the signatures the call takes and names only the types it got.
def _types_only(error: TypeError, args: tuple, kwargs: dict) -> str:
    text = str(error)
    signatures = text.split("\n\nInvoked with", 1)[0]
    given = ", ".join(type(a).__name__ for a in args)
    named = ", ".join(f"{name}: {type(value).__name__}" for name, value in kwargs.items())
    return f"{signatures}\nGiven arguments of the types ({given}{'; ' if named else ''}{named})"


def _without_values(call):
    @_functools.wraps(call)
    def checked(*args, **kwargs):
        try:
            return call(*args, **kwargs)
        except TypeError as error:
            if "Invoked with" not in str(error):
                raise
            message = _types_only(error, args, kwargs)
        # Raised outside the handler, so that the binding's message is not
        # kept as this error's context either.
        raise TypeError(message)

    return checked


# Every call takes its data first and the key after them, as encode(data,
# key) does. A batch call given a Key first, (key, buffers) or (key, data,
# offsets, out), cannot mean anything else, since a Key is not a buffer: it
# is served, each argument in its place, with a DeprecationWarning that
# points at the caller's line, so that such code keeps working while it is
# brought to the one order.
_KEY_FIRST = {
    "encode_batch": ("key", "buffers"),
    "decode_batch": ("key", "buffers"),
    "encode_batch_flat": ("key", "data", "offsets", "out"),
    "decode_batch_flat": ("key", "data", "offsets", "out"),
}


def _data_first(call, key_first):
    required = len([name for name in key_first if name != "out"])
    order = ", ".join(key_first[1:3] + key_first[:1] + key_first[3:])

    @_functools.wraps(call)
    def ordered(*args, **kwargs):
        if args and isinstance(args[0], Key) and required <= len(args) <= len(key_first):
            named = dict(zip(key_first, args))
            if not named.keys() & kwargs.keys():
                _warnings.warn(
                    f"{call.__name__}() takes the key after the data: {call.__name__}({order})",
                    DeprecationWarning,
                    stacklevel=3,
                )
                return call(**named, **kwargs)
        return call(*args, **kwargs)

    return ordered


for _name in ("digest", "file_digest", "encode", "decode", "encode_batch", "decode_batch", "encode_batch_flat",
              "decode_batch_flat", "engines"):
    _call = getattr(_compatcrypt, _name)
    if _name in _KEY_FIRST:
        _call = _data_first(_call, _KEY_FIRST[_name])
    globals()[_name] = _without_values(_call)
for _class in (Key, Digest, Encoder, Decoder):
    for _name, _member in list(vars(_class).items()):
        if _name in ("__new__", "__class__") or not callable(getattr(_class, _name, None)):
            continue
        if isinstance(_member, staticmethod):
            setattr(_class, _name, staticmethod(_without_values(_member.__func__)))
        elif type(_member).__name__ == "instancemethod":
            setattr(_class, _name, _without_values(_member.__func__))
del _name, _call, _class, _member

__all__ = [
    "DIGEST_SIZE",
    "KEY_SIZE",
    "RESULT_ERROR",
    "RESULT_FAILED",
    "Decoder",
    "Digest",
    "Encoder",
    "Error",
    "Key",
    "WeakKeyWarning",
    "decode",
    "decode_batch",
    "decode_batch_flat",
    "digest",
    "encode",
    "encode_batch",
    "encode_batch_flat",
    "engines",
    "file_digest",
]
