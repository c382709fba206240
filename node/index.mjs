// The ES module entry: the same objects as the CommonJS one.
import compatcrypt from './index.js';

export const {
  DIGEST_SIZE, KEY_SIZE, PIECE_BYTES, BINDING_VERSION, Key, AbortError,
  digest, digestAsync, fileDigest, fileDigestAsync,
  encode, decode, encodeAsync, decodeAsync,
  encodeWithPassword, decodeWithPassword, encodeWithPasswordAsync, decodeWithPasswordAsync,
  encodeBatch, decodeBatch, encodeBatchAsync, decodeBatchAsync,
  encodeBatchFlat, decodeBatchFlat, encodeBatchFlatAsync, decodeBatchFlatAsync,
  Digest, Encoder, Decoder, createDigest, createEncoder, createDecoder,
} = compatcrypt;
export default compatcrypt;
