'use strict';
// Every error: its class and code, and no byte of data, key or password in
// its message, whatever the caller passed.
const test = require('node:test');
const assert = require('node:assert/strict');
const { compatcrypt } = require('./helpers.js');

const { Key } = compatcrypt;
const key = Key.fromHex('0123456789abcdeffedcba9876543210');
const data = Buffer.from('card 4111111111111111');
const secretTexts = ['4111111111111111', 'hunter2', '0123456789abcdef', 'fedcba9876543210'];

function fails(call, { name = 'Error', code }) {
  let error;
  try {
    call();
  } catch (caught) {
    error = caught;
  }
  assert.ok(error, `no error for ${call}`);
  assert.equal(error.name, name, `${error.message}`);
  assert.equal(error.code, code, `${error.message}`);
  for (const secret of secretTexts) {
    assert.ok(!error.message.includes(secret), `secret in: ${error.message}`);
    assert.ok(!String(error.stack).split('\n')[0].includes(secret));
  }
  return error;
}

async function rejects(promise, expected) {
  let error;
  try {
    await promise;
  } catch (caught) {
    error = caught;
  }
  return fails(() => {
    if (error) throw error;
  }, expected);
}

const typeError = { name: 'TypeError', code: 'ERR_INVALID_ARG_TYPE' };

test('wrong types are TypeErrors naming only the type', () => {
  const wrong = ['4111111111111111', 41, 41n, null, undefined, {}, [1, 2], () => 1, Symbol('x'), true,
    new SharedArrayBuffer(4), new Uint8Array(new SharedArrayBuffer(4))];
  for (const value of wrong) {
    fails(() => compatcrypt.digest(value), typeError);
    fails(() => compatcrypt.encode(value, key), typeError);
    fails(() => compatcrypt.decode(data, value), typeError);
    fails(() => compatcrypt.createDigest().update(value), typeError);
    fails(() => compatcrypt.createEncoder(key).update(value), typeError);
    if (!Array.isArray(value)) fails(() => compatcrypt.encodeBatchFlat(data, value, key), typeError);
    if (typeof value !== 'string' && !ArrayBuffer.isView(value) && !(value instanceof SharedArrayBuffer)) {
      fails(() => Key.fromPassword(value), typeError);
      fails(() => compatcrypt.fileDigest(value), typeError);
      fails(() => compatcrypt.encodeWithPassword(data, value), typeError);
    }
  }
  fails(() => compatcrypt.encodeBatch(5, key), typeError);
  fails(() => compatcrypt.encodeBatch([data, 'text'], key), typeError);
  fails(() => Key.fromHex(Buffer.from('00')), typeError);
  fails(() => compatcrypt.fileDigest('/x', 'hunter2'), typeError);
  fails(() => compatcrypt.createEncoder('0123456789abcdeffedcba9876543210'), typeError);
  fails(() => key.equals('0123456789abcdeffedcba9876543210'), typeError);
});

test('library errors carry the library\'s codes', () => {
  fails(() => Key.from(Buffer.alloc(15, 0x41)), { name: 'RangeError', code: 'ERR_COMPATCRYPT_KEY_LENGTH' });
  fails(() => Key.from(Buffer.alloc(17, 0x41)), { name: 'RangeError', code: 'ERR_COMPATCRYPT_KEY_LENGTH' });
  fails(() => Key.fromHex('0123456789abcdeffedcba987654321'), { name: 'TypeError', code: 'ERR_COMPATCRYPT_KEY_HEX' });
  fails(() => Key.fromHex('0123456789abcdeffedcba987654321g'), { name: 'TypeError', code: 'ERR_COMPATCRYPT_KEY_HEX' });
  fails(() => compatcrypt.encodeWithPassword(data, 'hunter2\0more'),
    { name: 'TypeError', code: 'ERR_COMPATCRYPT_PASSWORD_NUL' });
  fails(() => compatcrypt.decodeWithPassword(data, Buffer.from('hunter2\0')),
    { name: 'TypeError', code: 'ERR_COMPATCRYPT_PASSWORD_NUL' });
  const destroyed = Key.fromPassword('hunter2');
  destroyed.destroy();
  fails(() => compatcrypt.encode(data, destroyed), { code: 'ERR_COMPATCRYPT_KEY_DESTROYED' });
  fails(() => destroyed.export(), { code: 'ERR_COMPATCRYPT_KEY_DESTROYED' });
  fails(() => compatcrypt.createDecoder(destroyed), { code: 'ERR_COMPATCRYPT_KEY_DESTROYED' });
});

test('offsets and outputs that cannot be used', () => {
  const range = (code) => ({ name: 'RangeError', code });
  fails(() => compatcrypt.encodeBatchFlat(data, [], key), range('ERR_COMPATCRYPT_OFFSETS'));
  fails(() => compatcrypt.encodeBatchFlat(data, [-1, 3], key), range('ERR_COMPATCRYPT_OFFSETS'));
  fails(() => compatcrypt.encodeBatchFlat(data, [4, 3], key), range('ERR_COMPATCRYPT_OFFSETS'));
  fails(() => compatcrypt.encodeBatchFlat(data, [0, data.length + 1], key), range('ERR_COMPATCRYPT_OFFSETS'));
  fails(() => compatcrypt.encodeBatchFlat(data, [0, 1.5], key), range('ERR_COMPATCRYPT_OFFSETS'));
  fails(() => compatcrypt.encodeBatchFlat(data, [0, NaN], key), range('ERR_COMPATCRYPT_OFFSETS'));
  fails(() => compatcrypt.encodeBatchFlat(data, [0, 2], key, { out: Buffer.alloc(3) }), range('ERR_COMPATCRYPT_OUT'));
  fails(() => compatcrypt.encodeBatchFlat(data, [0, 2], key, { out: data.subarray(1) }), range('ERR_COMPATCRYPT_OUT'));
  const shared = Buffer.alloc(40, 7);
  fails(() => compatcrypt.encodeBatchFlat(shared.subarray(0, 20), [0, 20], key, { out: shared.subarray(5, 25) }),
    range('ERR_COMPATCRYPT_OUT'));
});

test('files that cannot be read, with the system\'s reason', async () => {
  const missing = fails(() => compatcrypt.fileDigest('/nonexistent/file'), { code: 'ERR_COMPATCRYPT_FILE' });
  assert.equal(missing.osCode, 'ENOENT');
  assert.equal(missing.path, '/nonexistent/file');
  assert.match(missing.message, /No such file or directory/);
  const directory = fails(() => compatcrypt.fileDigest('/'), { code: 'ERR_COMPATCRYPT_FILE' });
  assert.equal(directory.osCode, 'EISDIR');
  fails(() => compatcrypt.fileDigest('/etc/passwd\0x'), { name: 'TypeError', code: 'ERR_INVALID_ARG_VALUE' });
  fails(() => compatcrypt.fileDigest('/etc/passwd', -1), { name: 'RangeError', code: 'ERR_OUT_OF_RANGE' });
  fails(() => compatcrypt.fileDigest('/etc/passwd', 1.5), { name: 'RangeError', code: 'ERR_OUT_OF_RANGE' });
  fails(() => compatcrypt.fileDigest('/etc/passwd', 2n ** 63n), { name: 'RangeError', code: 'ERR_OUT_OF_RANGE' });
  const rejected = await rejects(compatcrypt.fileDigestAsync('/nonexistent'), { code: 'ERR_COMPATCRYPT_FILE' });
  assert.equal(rejected.osCode, 'ENOENT');
});

test('the Promise forms reject, never throw', async () => {
  for (const call of [
    () => compatcrypt.digestAsync('4111111111111111'),
    () => compatcrypt.encodeAsync(data, 'hunter2'),
    () => compatcrypt.decodeAsync(data, key, 'options'),
    () => compatcrypt.decodeAsync(data, key, { signal: 'hunter2' }),
    () => compatcrypt.encodeBatchAsync(7, key),
    () => compatcrypt.encodeBatchFlatAsync(data, 'offsets', key),
    () => compatcrypt.fileDigestAsync(42),
    () => compatcrypt.encodeWithPasswordAsync(data, 42),
  ]) {
    let promise;
    assert.doesNotThrow(() => {
      promise = call();
    });
    await rejects(promise, typeError);
  }
  await rejects(compatcrypt.encodeWithPasswordAsync(data, 'hunter2\0'), { name: 'TypeError', code: 'ERR_COMPATCRYPT_PASSWORD_NUL' });
  await rejects(compatcrypt.encodeBatchFlatAsync(data, [3, 2], key), { name: 'RangeError', code: 'ERR_COMPATCRYPT_OFFSETS' });
});

test('streams used out of turn', () => {
  const digest = compatcrypt.createDigest();
  digest.update(data);
  digest.digest();
  fails(() => digest.digest(), { code: 'ERR_COMPATCRYPT_DIGEST_FINALIZED' });
  fails(() => digest.update(data), { code: 'ERR_COMPATCRYPT_DIGEST_FINALIZED' });
  const encoder = compatcrypt.createEncoder(key);
  encoder.destroy();
  fails(() => encoder.update(data), { code: 'ERR_COMPATCRYPT_STREAM_DESTROYED' });
});
