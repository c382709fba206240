from ._compatcrypt import (
    DIGEST_SIZE as DIGEST_SIZE,
    KEY_SIZE as KEY_SIZE,
    RESULT_ERROR as RESULT_ERROR,
    RESULT_FAILED as RESULT_FAILED,
    Decoder as Decoder,
    Digest as Digest,
    Encoder as Encoder,
    Error as Error,
    Key as Key,
    WeakKeyWarning as WeakKeyWarning,
    __version__ as __version__,
    decode as decode,
    decode_batch as decode_batch,
    decode_batch_flat as decode_batch_flat,
    digest as digest,
    encode as encode,
    encode_batch as encode_batch,
    encode_batch_flat as encode_batch_flat,
    engines as engines,
    file_digest as file_digest,
)

__all__: list[str]
