'use strict';
// Use as a hostile or careless program would: many threads at once, a
// worker stopped or a process exiting in the middle of work, inputs past
// 2 GiB, getters that run during a call.
const test = require('node:test');
const assert = require('node:assert/strict');
const { Worker } = require('node:worker_threads');
const { spawnSync } = require('node:child_process');
const { compatcrypt, C, random, fullKey, packageDir } = require('./helpers.js');

const { Key } = compatcrypt;

const workerScript = `
  const { parentPort, workerData } = require('node:worker_threads');
  const c = require(workerData.packageDir);
  const key = c.Key.fromHex(workerData.key);
  (async () => {
    const out = [];
    for (const data of workerData.inputs) {
      const pending = [c.digestAsync(data), c.encodeAsync(data, key)];
      out.push({ digest: c.digest(data), encoded: c.encode(data, key), digestAsync: await pending[0],
                 encodedAsync: await pending[1], batch: c.decodeBatch([c.encode(data, key)], key)[0] });
    }
    parentPort.postMessage(out);
  })();`;

test('worker threads call at once and get the C library\'s bytes', async () => {
  const rng = random(31);
  const keyBytes = fullKey(rng);
  const runs = [];
  for (let w = 0; w < 4; w++) {
    const inputs = [];
    for (let i = 0; i < 6; i++) inputs.push(rng.bytes(rng.below(3 << 20)));
    const worker = new Worker(workerScript, { eval: true, workerData: { packageDir, key: keyBytes.toString('hex'), inputs } });
    runs.push(new Promise((resolve, reject) => {
      worker.once('message', (out) => resolve({ inputs, out }));
      worker.once('error', reject);
    }).finally(() => worker.terminate()));
  }
  // The main thread works meanwhile too.
  const mine = rng.bytes(2 << 20);
  assert.deepEqual(await compatcrypt.encodeAsync(mine, Key.from(keyBytes)), C.encode(mine, keyBytes));
  for (const { inputs, out } of await Promise.all(runs)) {
    inputs.forEach((data, i) => {
      const expected = C.encode(data, keyBytes);
      assert.deepEqual(Buffer.from(out[i].digest), C.digest(data));
      assert.deepEqual(Buffer.from(out[i].digestAsync), C.digest(data));
      assert.deepEqual(Buffer.from(out[i].encoded), expected);
      assert.deepEqual(Buffer.from(out[i].encodedAsync), expected);
      assert.deepEqual(Buffer.from(out[i].batch), data);
    });
  }
});

test('a worker terminated in the middle of a long call goes at once', async (t) => {
  const worker = new Worker(`
    const c = require(${JSON.stringify(packageDir)});
    const data = Buffer.allocUnsafe(1 << 30);
    c.encodeAsync(data, c.Key.fromPassword('w')).then(() => {});
    c.fileDigestAsync('/dev/zero');
    require('node:worker_threads').parentPort.postMessage('started');`, { eval: true });
  await new Promise((resolve) => worker.once('message', resolve));
  await new Promise((resolve) => setTimeout(resolve, 100));
  const start = Date.now();
  await worker.terminate();
  t.diagnostic(`terminated in ${Date.now() - start} ms`);
  assert.ok(Date.now() - start < 5000);
  // This thread and the pool are still fine.
  assert.deepEqual(await compatcrypt.digestAsync(Buffer.from('abc')), C.digest(Buffer.from('abc')));
});

test('process.exit() during work on the pool exits at once with its code', () => {
  for (const call of ['c.encodeAsync(data, c.Key.fromPassword("x"))', 'c.digestAsync(data)', 'c.fileDigestAsync("/dev/zero")']) {
    const start = Date.now();
    const run = spawnSync(process.execPath, ['-e', `
      const c = require(${JSON.stringify(packageDir)});
      const data = Buffer.allocUnsafe(1 << 30);
      for (let i = 0; i < 4; i++) ${call};
      setTimeout(() => process.exit(7), 100);`], { encoding: 'utf8', timeout: 20000 });
    assert.equal(run.status, 7, `${call}: ${run.stderr}`);
    assert.equal(run.stderr, '');
    assert.ok(Date.now() - start < 10000, `${call} exited after ${Date.now() - start} ms`);
  }
});

test('inputs past 2 GiB follow the same formats', async () => {
  const size = 2 ** 31 + 5;
  const big = new Uint8Array(size);  // zero pages, never written
  big[size - 1] = 1;
  const stream = compatcrypt.createDigest();
  const piece = 1 << 26;
  for (let at = 0; at < size; at += piece) stream.update(big.subarray(at, Math.min(size, at + piece)));
  const expected = stream.digest();
  assert.deepEqual(compatcrypt.digest(big), expected);
  assert.deepEqual(await compatcrypt.digestAsync(big), expected);
});

test('getters and iterators of the caller run before the addon reads anything', () => {
  const key = Key.fromPassword('getters');
  const records = [Buffer.from('first record'), Buffer.from('second')];
  const hostile = {
    *[Symbol.iterator]() {
      yield records[0];
      yield records[1];
    },
  };
  assert.deepEqual(compatcrypt.encodeBatch(hostile, key), compatcrypt.encodeBatch(records, key));
  const lying = Buffer.from('a record of twenty b');
  Object.defineProperty(lying, 'byteLength', { get: () => 3 });
  Object.defineProperty(lying, 'length', { get: () => 3 });
  assert.equal(compatcrypt.encodeBatch([lying], key)[0].length, 20);
  assert.equal(compatcrypt.encode(lying, key).length, 20);
});

test('empty and odd inputs', async () => {
  const key = Key.fromPassword('empty');
  assert.deepEqual(compatcrypt.encode(Buffer.alloc(0), key), Buffer.alloc(0));
  assert.deepEqual(await compatcrypt.decodeAsync(new ArrayBuffer(0), key), Buffer.alloc(0));
  assert.deepEqual(compatcrypt.encodeBatch([], key), []);
  assert.deepEqual(await compatcrypt.encodeBatchAsync([], key), []);
  assert.deepEqual(compatcrypt.decodeBatchFlat(Buffer.alloc(0), [0], key), Buffer.alloc(0));
  assert.deepEqual(compatcrypt.encodeBatch([new Uint8Array(0), new DataView(new ArrayBuffer(0))], key),
    [Buffer.alloc(0), Buffer.alloc(0)]);
  const many = Array.from({ length: 100000 }, () => Buffer.alloc(0));
  assert.equal((await compatcrypt.decodeBatchAsync(many, key)).length, 100000);
});
