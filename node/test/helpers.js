'use strict';
// What every suite uses: the package under test (the build tree's, or an
// installed one), the C library's functions as the reference, seeded
// random bytes, and the CAVP vector files shared with the C suites.
const fs = require('node:fs');
const path = require('node:path');

const packageDir = process.env.COMPATCRYPT_NODE_PACKAGE;
if (!packageDir) throw new Error('COMPATCRYPT_NODE_PACKAGE must name the package directory to test');
const compatcrypt = require(packageDir);

// libcompatcrypt.so.1's seven functions: [result code, output].
const oracle = require(process.env.COMPATCRYPT_NODE_ORACLE);
const ok = ([code, out]) => {
  if (code !== 1) throw new Error(`the C library returned ${code}`);
  return out;
};
const C = {
  digest: (data) => ok(oracle.messageDigest(Buffer.from(data))),
  encode: (data, key) => ok(oracle.encodeFunction(Buffer.from(data), Buffer.from(key))),
  decode: (data, key) => ok(oracle.decodeFunction(Buffer.from(data), Buffer.from(key))),
  keygen: (password) => ok(oracle.keyGenerating(Buffer.from(password))),
  encodeKey: (data, password) => ok(oracle.encodeKey(Buffer.from(data), Buffer.from(password))),
  decodeKey: (data, password) => ok(oracle.decodeKey(Buffer.from(data), Buffer.from(password))),
  fileDigest: (file, offset) => oracle.fileDigest(Buffer.from(file), offset),
};

// xorshift128+: the same bytes on every run, so that a failure repeats.
function random(seed) {
  let a = BigInt(seed) | 1n;
  let b = 0x9e3779b97f4a7c15n;
  const mask = (1n << 64n) - 1n;
  const next = () => {
    let x = a;
    const y = b;
    a = y;
    x ^= (x << 23n) & mask;
    x ^= x >> 17n;
    x ^= y ^ (y >> 26n);
    b = x;
    return Number((x + y) & 0xffffffffn);
  };
  return {
    below: (n) => next() % n,
    bytes(size) {
      const out = Buffer.allocUnsafe(size);
      for (let i = 0; i < size; i += 4) {
        const word = next();
        for (let j = 0; j < 4 && i + j < size; j++) out[i + j] = (word >>> (8 * j)) & 0xff;
      }
      return out;
    },
  };
}

// The records of a CAVP response file: { encrypt, fields }.
function readVectors(file) {
  const text = fs.readFileSync(path.join(process.env.COMPATCRYPT_TEST_DATA, 'tdes', file), 'latin1');
  const records = [];
  let encrypt = true;
  for (const raw of text.split('\n')) {
    const line = raw.replace(/\r$/, '');
    if (line === '[ENCRYPT]' || line === '[DECRYPT]') {
      encrypt = line === '[ENCRYPT]';
      continue;
    }
    const match = /^(\w+) = (\S+)$/.exec(line);
    if (!match) continue;
    if (match[1] === 'COUNT') records.push({ encrypt, fields: {} });
    else if (records.length > 0) records.at(-1).fields[match[1]] = Buffer.from(match[2], 'hex');
  }
  return records;
}

// The library's 16-byte key: the outer key on the even bytes, the middle
// key on the odd ones.
function interleave(outer, middle) {
  const key = Buffer.alloc(16);
  for (let i = 0; i < 8; i++) {
    key[2 * i] = outer[i];
    key[2 * i + 1] = middle[i];
  }
  return key;
}

// A key without zero bytes, so that no warning is emitted for it.
function fullKey(rng) {
  const key = rng.bytes(16);
  for (let i = 0; i < 16; i++) if (key[i] === 0) key[i] = 1;
  return key;
}

module.exports = { compatcrypt, C, random, readVectors, interleave, fullKey, packageDir };
