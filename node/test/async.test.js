'use strict';
// The Promise forms: the same bytes as the synchronous calls, on the thread
// pool; an AbortSignal stops them between pieces; the event loop stays free;
// buffers changed, detached or shrunk during a call.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { compatcrypt, C, random, fullKey } = require('./helpers.js');

const { Key, PIECE_BYTES } = compatcrypt;
const MiB = 1 << 20;

test('each Promise form equals its synchronous call, across piece edges', async () => {
  const rng = random(21);
  const key = Key.from(fullKey(rng));
  for (const size of [0, 1, 7, 8, PIECE_BYTES - 1, PIECE_BYTES, PIECE_BYTES + 1, 2 * PIECE_BYTES + 5,
    3 * PIECE_BYTES + 12345]) {
    const data = rng.bytes(size);
    assert.deepEqual(await compatcrypt.digestAsync(data), compatcrypt.digest(data), `digest ${size}`);
    const encoded = await compatcrypt.encodeAsync(data, key);
    assert.deepEqual(encoded, compatcrypt.encode(data, key), `encode ${size}`);
    assert.deepEqual(await compatcrypt.decodeAsync(encoded, key), data, `decode ${size}`);
  }
  const data = rng.bytes(3000);
  assert.deepEqual(await compatcrypt.encodeWithPasswordAsync(data, 'pw'), C.encodeKey(data, Buffer.from('pw')));
  assert.deepEqual(await compatcrypt.decodeWithPasswordAsync(data, 'pw'), C.decodeKey(data, Buffer.from('pw')));
});

test('batches on the pool equal the synchronous batches', async () => {
  const rng = random(22);
  const key = Key.from(fullKey(rng));
  const records = [];
  // Enough records to span several pieces, and one record larger than a piece.
  for (let i = 0; i < 3000; i++) records.push(rng.bytes(rng.below(1500)));
  records.push(rng.bytes(PIECE_BYTES + 77), Buffer.alloc(0));
  const expected = compatcrypt.encodeBatch(records, key);
  assert.deepEqual(await compatcrypt.encodeBatchAsync(records, key), expected);
  assert.deepEqual(await compatcrypt.decodeBatchAsync(expected, key), records);
  const data = Buffer.concat([Buffer.from('head'), ...records, Buffer.from('tail')]);
  const offsets = [4];
  for (const record of records) offsets.push(offsets.at(-1) + record.length);
  assert.deepEqual(await compatcrypt.encodeBatchFlatAsync(data, offsets, key),
    compatcrypt.encodeBatchFlat(data, offsets, key));
});

test('an AbortSignal stops a 1 GB call between pieces', async (t) => {
  const data = Buffer.allocUnsafe(1 << 30);  // pages read as zeros, never written
  const key = Key.fromPassword('abort');
  for (const [name, call] of [
    ['encodeAsync', (signal) => compatcrypt.encodeAsync(data, key, { signal })],
    ['decodeAsync', (signal) => compatcrypt.decodeAsync(data, key, { signal })],
    ['digestAsync', (signal) => compatcrypt.digestAsync(data, { signal })],
  ]) {
    const controller = new AbortController();
    const promise = call(controller.signal);
    await new Promise((resolve) => setTimeout(resolve, 20));
    const reason = new Error('enough');
    const start = process.hrtime.bigint();
    controller.abort(reason);
    await assert.rejects(promise, (error) => {
      assert.equal(error.name, 'AbortError');
      assert.equal(error.code, 'ABORT_ERR');
      assert.equal(error.cause, reason);
      return true;
    });
    const ms = Number(process.hrtime.bigint() - start) / 1e6;
    t.diagnostic(`${name}: rejected ${ms.toFixed(1)} ms after abort()`);
    assert.ok(ms < 3000, `${name} took ${ms} ms to stop`);  // the goal is 300 ms; generous under load
  }
  // Already aborted: rejected without starting.
  await assert.rejects(compatcrypt.digestAsync(data, { signal: AbortSignal.abort() }), { name: 'AbortError' });
});

test('a file digest of an endless device stops; a FIFO is refused at once', async (t) => {
  const controller = new AbortController();
  const promise = compatcrypt.fileDigestAsync('/dev/zero', { signal: controller.signal });
  setTimeout(() => controller.abort(), 50);
  const start = Date.now();
  await assert.rejects(promise, { name: 'AbortError' });
  t.diagnostic(`/dev/zero stopped after ${Date.now() - start} ms`);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'compatcrypt-node-'));
  try {
    const fifo = path.join(dir, 'fifo');
    execFileSync('mkfifo', [fifo]);
    await assert.rejects(compatcrypt.fileDigestAsync(fifo), { code: 'ERR_COMPATCRYPT_FILE', osCode: 'ESPIPE' });
    assert.throws(() => compatcrypt.fileDigest(fifo), { code: 'ERR_COMPATCRYPT_FILE', osCode: 'ESPIPE' });
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
});

test('the event loop stays free while a 300 MB encode runs', async (t) => {
  const data = Buffer.allocUnsafe(300 * 1000 * 1000);
  const controller = new AbortController();
  const encoding = compatcrypt.encodeAsync(data, Key.fromPassword('loop'), { signal: controller.signal });
  // A 10 ms timer, 50 times: each fires about on time.
  let late = 0;
  for (let i = 0; i < 50; i++) {
    const start = process.hrtime.bigint();
    await new Promise((resolve) => setTimeout(resolve, 10));
    late = Math.max(late, Number(process.hrtime.bigint() - start) / 1e6 - 10);
  }
  t.diagnostic(`latest timer: ${late.toFixed(1)} ms late`);
  assert.ok(late < 250, `a timer fired ${late} ms late`);
  // The encode was still running (at about 35 MB/s it needs seconds).
  controller.abort();
  await assert.rejects(encoding, { name: 'AbortError' });
});

test('a buffer changed during a call: the pieces copied are the ones coded', async () => {
  const rng = random(23);
  const key = Key.from(fullKey(rng));
  // Up to two pieces are copied when the call is made.
  const small = rng.bytes(2 * PIECE_BYTES);
  const original = Buffer.from(small);
  const pending = compatcrypt.encodeAsync(small, key);
  small.fill(0x55);
  assert.deepEqual(await pending, compatcrypt.encode(original, key));
  // Beyond them, each piece is copied when its turn comes: whole pieces,
  // never torn, and here (changed at once) the new bytes.
  const large = rng.bytes(4 * PIECE_BYTES);
  const before = Buffer.from(large);
  const running = compatcrypt.encodeAsync(large, key);
  large.fill(0x66);
  const mixed = Buffer.concat([before.subarray(0, 2 * PIECE_BYTES), large.subarray(2 * PIECE_BYTES)]);
  assert.deepEqual(await running, compatcrypt.encode(mixed, key));
});

test('a detached or shrunk buffer is refused, before and during a call', async () => {
  const key = Key.fromPassword('detach');
  const ab = new ArrayBuffer(64);
  const view = new Uint8Array(ab);
  structuredClone(ab, { transfer: [ab] });
  for (const value of [ab, view]) {
    assert.throws(() => compatcrypt.digest(value), { code: 'ERR_COMPATCRYPT_DETACHED' });
    assert.throws(() => compatcrypt.encode(value, key), { code: 'ERR_COMPATCRYPT_DETACHED' });
    await assert.rejects(compatcrypt.digestAsync(value), { code: 'ERR_COMPATCRYPT_DETACHED' });
  }
  // Transferred while the call runs (past the pieces copied at the call).
  const moving = new ArrayBuffer(8 * MiB);
  const running = compatcrypt.decodeAsync(new Uint8Array(moving), key);
  structuredClone(moving, { transfer: [moving] });
  await assert.rejects(running, { code: 'ERR_COMPATCRYPT_DETACHED' });
  // Shrunk while the call runs.
  const resizable = new ArrayBuffer(8 * MiB, { maxByteLength: 8 * MiB });
  const shrinking = compatcrypt.digestAsync(new Uint8Array(resizable, 0, 8 * MiB));
  resizable.resize(MiB);
  await assert.rejects(shrinking, { code: 'ERR_COMPATCRYPT_DETACHED' });
  // A length-tracking view of a resizable buffer is read as it is at the call.
  const tracking = new ArrayBuffer(16, { maxByteLength: 64 });
  assert.deepEqual(compatcrypt.digest(new Uint8Array(tracking)), compatcrypt.digest(Buffer.alloc(16)));
});
