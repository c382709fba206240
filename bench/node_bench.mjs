// The Node.js package timed next to Node's own crypto doing the same work
// on the same buffers, in one process, as ratios (peer time / our time):
//
//   digest of 1 MiB                     digest()         crypto.createHash('sha1')
//   decode of 1 MiB                     decode()         crypto.createDecipheriv('des-ede-cbc')
//   10,000 records of 96 B              decodeBatch()    a createDecipheriv per record
//   256 MiB through stream.pipeline,    createDecoder()  createDecipheriv('des-ede-cbc')
//     64 KiB chunks
//
// and the cost of one small call: digest() of 64 B against the C library's
// MessageDigest timed in a loop inside the same process (a small addon).
// des-ede-cbc is two-key triple DES in CBC mode, the cipher of the format's
// whole blocks: under the key's even bytes and odd bytes as its two keys it
// gives the same bytes, which is checked before timing.
//
//   node bench/node_bench.mjs <package dir> <bench_c_calls.node> [--json]
// (after `cmake --build build --target compatcrypt_node compatcrypt_node_bench`:
//  node bench/node_bench.mjs build/node/package build/node/helpers/bench_c_calls.node)
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import { createRequire } from 'node:module';
import { Readable, Writable } from 'node:stream';
import { pipeline } from 'node:stream/promises';

const [packageDir, helperPath] = process.argv.slice(2);
if (!packageDir || !helperPath) {
  console.error('usage: node bench/node_bench.mjs <package dir> <bench_c_calls.node> [--json]');
  process.exit(2);
}
const require = createRequire(import.meta.url);
const compatcrypt = require(fs.realpathSync(packageDir));
const cCalls = require(fs.realpathSync(helperPath));

const MiB = 1 << 20;
const keyBytes = crypto.randomBytes(16).map((b) => b || 1);
const key = compatcrypt.Key.from(keyBytes);
// des-ede's keys: the outer key (even bytes), then the middle key (odd bytes).
const edeKey = Buffer.alloc(16);
for (let i = 0; i < 8; i++) {
  edeKey[i] = keyBytes[2 * i];
  edeKey[8 + i] = keyBytes[2 * i + 1];
}
const zeroIv = Buffer.alloc(8);

function decipher() {
  const d = crypto.createDecipheriv('des-ede-cbc', edeKey, zeroIv);
  d.setAutoPadding(false);
  return d;
}
function peerDecode(data) {
  const d = decipher();
  return Buffer.concat([d.update(data), d.final()]);
}

try {
  peerDecode(Buffer.alloc(8));
} catch (error) {
  console.error(`des-ede-cbc is not available (${error.message}); run with --openssl-legacy-provider`);
  process.exit(1);
}

// The peers compute what we compute, or the ratio would mean nothing.
const block = crypto.randomBytes(MiB);
if (!peerDecode(block).equals(compatcrypt.decode(block, key))) throw new Error('des-ede-cbc gives other bytes');

// Best of `rounds` runs of `repeat` calls, in ms per call.
function time(call, { repeat = 1, rounds = 7 } = {}) {
  call();
  let best = Infinity;
  for (let r = 0; r < rounds; r++) {
    const start = process.hrtime.bigint();
    for (let i = 0; i < repeat; i++) call();
    best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e6 / repeat);
  }
  return best;
}
async function timeAsync(call, rounds = 3) {
  await call();
  let best = Infinity;
  for (let r = 0; r < rounds; r++) {
    const start = process.hrtime.bigint();
    await call();
    best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e6);
  }
  return best;
}

const rows = [];
function row(operation, ours, peer, goal) {
  rows.push({ operation, ours_ms: ours, peer_ms: peer, ratio: peer / ours, goal });
}

row('digest of 1 MiB vs createHash(\'sha1\')',
  time(() => compatcrypt.digest(block), { repeat: 20 }),
  time(() => crypto.createHash('sha1').update(block).digest(), { repeat: 20 }), 3);

row('decode of 1 MiB vs createDecipheriv(\'des-ede-cbc\')',
  time(() => compatcrypt.decode(block, key), { repeat: 10 }),
  time(() => peerDecode(block), { repeat: 2, rounds: 5 }), 20);

const records = Array.from({ length: 10000 }, () => crypto.randomBytes(96));
const flat = Buffer.concat(records);
const offsets = Int32Array.from({ length: 10001 }, (_, i) => 96 * i);
const batchOurs = time(() => compatcrypt.decodeBatch(records, key), { rounds: 7 });
const batchPeer = time(() => {
  for (const record of records) peerDecode(record);
}, { rounds: 5 });
row('10,000 records of 96 B, decodeBatch vs a createDecipheriv per record', batchOurs, batchPeer, 10);
const flatOurs = time(() => compatcrypt.decodeBatchFlat(flat, offsets, key), { rounds: 7 });
row('  the same, decodeBatchFlat (one buffer and offsets)', flatOurs, batchPeer, null);

const chunk = crypto.randomBytes(64 * 1024);
const chunks = (256 * MiB) / chunk.length;
async function stream(transform) {
  let seen = 0;
  await pipeline(Readable.from((function* source() {
    for (let i = 0; i < chunks; i++) yield chunk;
  })()), transform, new Writable({
    write(data, encoding, callback) {
      seen += data.length;
      callback();
    },
  }));
  if (seen !== 256 * MiB) throw new Error(`the stream gave ${seen} bytes`);
}
row('256 MiB through pipeline in 64 KiB chunks, createDecoder vs createDecipheriv',
  await timeAsync(() => stream(compatcrypt.createDecoder(key))),
  await timeAsync(() => stream(decipher()), 1), 10);

const small = crypto.randomBytes(64);
const calls = 2000000;
const oursNs = time(() => compatcrypt.digest(small), { repeat: calls, rounds: 5 }) * 1e6;
const cNs = Math.min(...Array.from({ length: 5 }, () => cCalls.messageDigest(small, calls)));
const surfaceNs = Math.min(...Array.from({ length: 5 }, () => cCalls.surfaceDigest(small, calls)));

const cpu = (os.cpus()[0] || { model: 'unknown CPU' }).model.trim();
const machine = `${cpu}, ${os.availableParallelism()} cores; Node.js ${process.version}, OpenSSL ${process.versions.openssl}`;
if (process.argv.includes('--json')) {
  console.log(JSON.stringify({ machine, rows, digest64: { oursNs, cNs, surfaceNs } }, null, 2));
} else {
  console.log(`compatcrypt for Node.js against Node's crypto, same process (${machine})\n`);
  console.log('| operation | ours | Node\'s crypto | ratio | goal |');
  console.log('|---|---|---|---|---|');
  for (const r of rows) {
    console.log(`| ${r.operation} | ${r.ours_ms.toFixed(3)} ms | ${r.peer_ms.toFixed(3)} ms | ` +
      `${r.ratio.toFixed(1)}x | ${r.goal ? `>= ${r.goal}x` : ''} |`);
  }
  console.log(`| digest() of 64 B: one call, against MessageDigest in C | ${oursNs.toFixed(0)} ns | ` +
    `${cNs.toFixed(0)} ns (C) | overhead ${(oursNs - cNs).toFixed(0)} ns | <= 200 ns |`);
  console.log(`\n(the binding surface's digest of 64 B, as the addon makes it, takes ${surfaceNs.toFixed(0)} ns in C)`);
}
