"""compatcrypt: fixed-format digests, two-key triple-DES encoding and password keys.

The functions and classes come from the extension module ``_compatcrypt``
over the C++ library; every result is byte for byte what the library's C
functions give. Data arguments take any C-contiguous bytes-like object
(bytes, bytearray, memoryview, NumPy arrays, ...) without a copy; long inputs
are worked on with the GIL released, so threads run in parallel.

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
