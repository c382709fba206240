'use strict';
// The streams against the one-shot calls, for random piece sizes, through
// stream.pipeline; large chunks taken off the event loop give the same bytes.
const test = require('node:test');
const assert = require('node:assert/strict');
const { pipeline } = require('node:stream/promises');
const { Readable, Writable } = require('node:stream');
const { compatcrypt, random, fullKey } = require('./helpers.js');

const { Key } = compatcrypt;

function pieces(rng, data, largest) {
  const out = [];
  for (let at = 0; at < data.length;) {
    const size = Math.min(data.length - at, rng.below(largest + 1));
    out.push(data.subarray(at, at + size));
    at += size;
  }
  return out;
}

async function through(stream, chunks) {
  const collected = [];
  await pipeline(Readable.from(chunks, { objectMode: false }), stream, new Writable({
    write(chunk, encoding, callback) {
      collected.push(chunk);
      callback();
    },
  }));
  return Buffer.concat(collected);
}

test('update() and digest()/final() equal the one-shot calls for random pieces', () => {
  const rng = random(11);
  for (let round = 0; round < 40; round++) {
    const data = rng.bytes(rng.below(5000));
    const key = Key.from(fullKey(rng));
    const parts = pieces(rng, data, 1 + rng.below(70));
    const digest = compatcrypt.createDigest();
    const encoder = compatcrypt.createEncoder(key);
    const decoder = compatcrypt.createDecoder(key);
    const encoded = [];
    const decoded = [];
    for (const part of parts) {
      digest.update(part);
      encoded.push(encoder.update(part));
    }
    encoded.push(encoder.final());
    const whole = Buffer.concat(encoded);
    for (const part of pieces(rng, whole, 1 + rng.below(70))) decoded.push(decoder.update(part));
    decoded.push(decoder.final());
    assert.deepEqual(digest.digest(), compatcrypt.digest(data));
    assert.deepEqual(whole, compatcrypt.encode(data, key));
    assert.deepEqual(Buffer.concat(decoded), data);
  }
});

test('a coder serves message after message: final() starts the next', () => {
  const rng = random(12);
  const key = Key.from(fullKey(rng));
  const encoder = compatcrypt.createEncoder(key);
  for (const size of [0, 3, 8, 13, 100]) {
    const data = rng.bytes(size);
    assert.deepEqual(Buffer.concat([encoder.update(data), encoder.final()]), compatcrypt.encode(data, key));
  }
});

test('digest.copy() and encodings', () => {
  const digest = compatcrypt.createDigest().update(Buffer.from('ab'));
  const copy = digest.copy();
  digest.update(Buffer.from('c'));
  assert.equal(digest.digest('hex'), 'cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c');
  assert.deepEqual(copy.digest(), compatcrypt.digest(Buffer.from('ab')));
});

test('stream.pipeline with random chunk sizes, small and past the pool threshold', async () => {
  const rng = random(13);
  const key = Key.from(fullKey(rng));
  for (const largest of [100, 70000, 3 << 20]) {
    const data = rng.bytes(largest === 100 ? 20000 : 5 * (1 << 20) + 13);
    const chunks = pieces(rng, data, largest);
    assert.deepEqual(await through(compatcrypt.createDigest(), chunks), compatcrypt.digest(data));
    const encoded = await through(compatcrypt.createEncoder(key), chunks);
    assert.deepEqual(encoded, compatcrypt.encode(data, key));
    assert.deepEqual(await through(compatcrypt.createDecoder(key), pieces(rng, encoded, largest)), data);
  }
});

test('a stream destroyed while its chunk is on the pool fails cleanly', async () => {
  const key = Key.fromPassword('stream');
  const encoder = compatcrypt.createEncoder(key);
  const done = new Promise((resolve) => encoder.on('close', resolve));
  encoder.write(Buffer.alloc(4 << 20, 1));
  setImmediate(() => encoder.destroy(new Error('stop')));
  encoder.on('error', () => {});
  await done;
  assert.throws(() => encoder.update(Buffer.alloc(8)), { code: /ERR_COMPATCRYPT_(STREAM_DESTROYED|STATE)/ });
});
