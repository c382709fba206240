'use strict';
// compatcrypt for Node.js: fixed-format digests, two-key triple-DES
// encoding and password keys, byte for byte as the C library gives them.
const native = require('./lib/native.js');
const calls = require('./lib/calls.js');
const streams = require('./lib/streams.js');
const { Key } = require('./lib/key.js');
const { AbortError } = require('./lib/errors.js');

module.exports = {
  DIGEST_SIZE: 20,
  KEY_SIZE: 16,
  // The bytes the Promise forms work on between two looks at their signal.
  PIECE_BYTES: native.pieceBytes(),
  BINDING_VERSION: native.bindingVersion(),
  Key,
  AbortError,
  digest: calls.digest,
  digestAsync: calls.digestAsync,
  fileDigest: calls.fileDigest,
  fileDigestAsync: calls.fileDigestAsync,
  encode: calls.encode,
  decode: calls.decode,
  encodeAsync: calls.encodeAsync,
  decodeAsync: calls.decodeAsync,
  encodeWithPassword: calls.encodeWithPassword,
  decodeWithPassword: calls.decodeWithPassword,
  encodeWithPasswordAsync: calls.encodeWithPasswordAsync,
  decodeWithPasswordAsync: calls.decodeWithPasswordAsync,
  encodeBatch: calls.encodeBatch,
  decodeBatch: calls.decodeBatch,
  encodeBatchAsync: calls.encodeBatchAsync,
  decodeBatchAsync: calls.decodeBatchAsync,
  encodeBatchFlat: calls.encodeBatchFlat,
  decodeBatchFlat: calls.decodeBatchFlat,
  encodeBatchFlatAsync: calls.encodeBatchFlatAsync,
  decodeBatchFlatAsync: calls.decodeBatchFlatAsync,
  Digest: streams.Digest,
  Encoder: streams.Encoder,
  Decoder: streams.Decoder,
  createDigest: streams.createDigest,
  createEncoder: streams.createEncoder,
  createDecoder: streams.createDecoder,
};
