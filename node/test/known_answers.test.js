'use strict';
// Every call against the C library's own functions and the vector files of
// the C suites: equal bytes for the same input, whatever its length, the
// key and the form of the call.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { compatcrypt, C, random, readVectors, interleave, fullKey } = require('./helpers.js');

const { Key } = compatcrypt;

test('digests of the documented inputs', () => {
  assert.equal(compatcrypt.digest(Buffer.from('abc')).toString('hex'), 'cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c');
  assert.equal(compatcrypt.digest(Buffer.alloc(0)).toString('hex'), 'e4e16e2b64e18a6650f05fd3f2ead2aea3582446');
});

test('CAVP two-key CBC messages (shared with the C suites)', () => {
  const records = readVectors('TCBCMMT2.rsp');
  assert.equal(records.length, 20);
  for (const { encrypt, fields } of records) {
    const key = Key.from(interleave(fields.KEY1, fields.KEY2));
    // CBC from IV v over P is the zero-IV chaining over P with v folded
    // into the first block.
    if (encrypt) {
      const plain = Buffer.from(fields.PLAINTEXT);
      for (let i = 0; i < 8; i++) plain[i] ^= fields.IV[i];
      assert.deepEqual(compatcrypt.encode(plain, key), fields.CIPHERTEXT);
    } else {
      const decoded = compatcrypt.decode(fields.CIPHERTEXT, key);
      for (let i = 0; i < 8; i++) decoded[i] ^= fields.IV[i];
      assert.deepEqual(decoded, fields.PLAINTEXT);
    }
  }
});

test('CAVP single-key known answers: one block under the key on both halves', () => {
  for (const file of fs.readdirSync(path.join(process.env.COMPATCRYPT_TEST_DATA, 'tdes'))) {
    if (!/^TCBC(varkey|vartext|invperm|permop|subtab)\.rsp$/.test(file)) continue;
    const records = readVectors(file);
    assert.ok(records.length > 0, file);
    for (const { encrypt, fields } of records) {
      const key = Key.from(interleave(fields.KEYs, fields.KEYs));
      if (encrypt) assert.deepEqual(compatcrypt.encode(fields.PLAINTEXT, key), fields.CIPHERTEXT, file);
      else assert.deepEqual(compatcrypt.decode(fields.CIPHERTEXT, key), fields.PLAINTEXT, file);
    }
  }
});

test('digest, encode and decode equal the C library over random lengths and keys', () => {
  const rng = random(1);
  // Block and piece edges, then random lengths.
  const lengths = [0, 1, 7, 8, 9, 15, 16, 55, 56, 57, 63, 64, 65, 127, 128, 1000, 4096 + 3];
  for (let i = 0; i < 60; i++) lengths.push(rng.below(70000));
  for (const length of lengths) {
    const data = rng.bytes(length);
    const keyBytes = length % 5 === 0 ? rng.bytes(16) : fullKey(rng);  // some keys with zero bytes
    const key = Key.from(keyBytes);
    assert.deepEqual(compatcrypt.digest(data), C.digest(data), `digest of ${length}`);
    const encoded = compatcrypt.encode(data, key);
    assert.deepEqual(encoded, C.encode(data, keyBytes), `encode of ${length}`);
    assert.deepEqual(compatcrypt.decode(encoded, key), data, `decode of ${length}`);
    assert.deepEqual(compatcrypt.decode(data, key), C.decode(data, keyBytes), `decode of ${length}`);
  }
});

test('every kind of view reads its own bytes', () => {
  const rng = random(2);
  const backing = rng.bytes(4096);
  const key = Key.from(fullKey(rng));
  const ab = backing.buffer.slice(backing.byteOffset, backing.byteOffset + 4096);
  const views = {
    Buffer: Buffer.from(ab, 40, 1000),
    Uint8Array: new Uint8Array(ab, 40, 1000),
    Int8Array: new Int8Array(ab, 40, 1000),
    Uint16Array: new Uint16Array(ab, 40, 500),
    Int32Array: new Int32Array(ab, 40, 250),
    Float32Array: new Float32Array(ab, 40, 250),
    Float64Array: new Float64Array(ab, 40, 125),
    BigInt64Array: new BigInt64Array(ab, 40, 125),
    DataView: new DataView(ab, 40, 1000),
    ArrayBuffer: ab.slice(40, 1040),
  };
  const bytes = Buffer.from(ab, 40, 1000);
  for (const [name, view] of Object.entries(views)) {
    assert.deepEqual(compatcrypt.digest(view), C.digest(bytes), name);
    assert.deepEqual(compatcrypt.encode(view, key), C.encode(bytes, key.export()), name);
  }
});

test('keys from passwords and hex equal the C library', () => {
  const rng = random(3);
  const passwords = [Buffer.from('secret'), Buffer.from('a'), Buffer.from('sixsix'), Buffer.from('seven77'),
    Buffer.from('a much longer password than eight bytes'), Buffer.from([0x80, 0xff, 0x00, 0x41])];
  for (let i = 0; i < 30; i++) passwords.push(rng.bytes(1 + rng.below(40)));
  for (const password of passwords) {
    const key = Key.fromPassword(password);
    assert.deepEqual(key.export(), C.keygen(password));
    assert.ok(Key.fromHex(key.export().toString('hex').toUpperCase()).equals(key));
  }
  // A string counts as its UTF-8 bytes.
  assert.deepEqual(Key.fromPassword('pässwörd').export(), C.keygen(Buffer.from('pässwörd', 'utf8')));
});

test('the password coders equal EncodeKey and DecodeKey', () => {
  const rng = random(4);
  for (let i = 0; i < 40; i++) {
    const password = Buffer.from(rng.bytes(1 + rng.below(20)).map((b) => b || 1));
    const data = rng.bytes(rng.below(3000));
    assert.deepEqual(compatcrypt.encodeWithPassword(data, password), C.encodeKey(data, password));
    assert.deepEqual(compatcrypt.decodeWithPassword(data, password), C.decodeKey(data, password));
  }
  assert.deepEqual(compatcrypt.encodeWithPassword(Buffer.from('plain'), 'secret'),
    C.encodeKey(Buffer.from('plain'), Buffer.from('secret')));
});

test('batches equal one call per record, in both layouts', () => {
  const rng = random(5);
  const keyBytes = fullKey(rng);
  const key = Key.from(keyBytes);
  const records = [];
  for (let i = 0; i < 300; i++) records.push(rng.bytes(i % 7 === 0 ? 0 : rng.below(200)));
  const encoded = compatcrypt.encodeBatch(records, key);
  assert.equal(encoded.length, records.length);
  records.forEach((record, i) => assert.deepEqual(encoded[i], C.encode(record, keyBytes)));
  assert.deepEqual(compatcrypt.decodeBatch(encoded, key), records);

  // Flat: a prefix and a suffix that are no record's, carried over.
  const prefix = rng.bytes(5);
  const suffix = rng.bytes(9);
  const data = Buffer.concat([prefix, ...records, suffix]);
  const offsets = [5];
  for (const record of records) offsets.push(offsets.at(-1) + record.length);
  const expected = Buffer.concat([prefix, ...records.map((r) => C.encode(r, keyBytes)), suffix]);
  for (const form of [offsets, Int32Array.from(offsets), Uint32Array.from(offsets),
    BigInt64Array.from(offsets, BigInt), BigUint64Array.from(offsets, BigInt), Float64Array.from(offsets)]) {
    assert.deepEqual(compatcrypt.encodeBatchFlat(data, form, key), expected, form.constructor.name);
  }
  // In place.
  const inPlace = Buffer.from(expected);
  assert.equal(compatcrypt.decodeBatchFlat(inPlace, offsets, key, { out: inPlace }), inPlace);
  assert.deepEqual(inPlace, data);
  // Into another buffer.
  const out = Buffer.alloc(data.length);
  compatcrypt.encodeBatchFlat(data, offsets, key, { out });
  assert.deepEqual(out, expected);
});

test('file digests equal FileDigest, from every offset', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'compatcrypt-node-'));
  try {
    const rng = random(6);
    const file = path.join(dir, 'a file with spaces ünd ümlauts');
    const data = rng.bytes(3 * 1024 * 1024 + 17);  // more than a piece
    fs.writeFileSync(file, data);
    for (const offset of [0, 1, 63, 64, 1 << 20, data.length - 1, data.length, data.length + 10]) {
      const [code, expected] = C.fileDigest(file, offset);
      assert.equal(code, 1);
      assert.deepEqual(compatcrypt.fileDigest(file, offset), expected, `offset ${offset}`);
      assert.deepEqual(compatcrypt.fileDigest(Buffer.from(file), BigInt(offset)), expected);
      assert.deepEqual(compatcrypt.fileDigest(new URL(`file://${file}`), { offset }), expected);
    }
    assert.deepEqual(compatcrypt.fileDigest(file), compatcrypt.digest(data));
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
});

test('the ES module entry gives the same objects', async () => {
  const esm = await import(require('node:url').pathToFileURL(
    require('node:path').join(require('./helpers.js').packageDir, 'index.mjs')).href);
  assert.equal(esm.digest, compatcrypt.digest);
  assert.equal(esm.Key, compatcrypt.Key);
  assert.equal(esm.default, compatcrypt);
  const names = Object.keys(compatcrypt).sort();
  assert.deepEqual(Object.keys(esm).filter((n) => n !== 'default').sort(), names);
});
