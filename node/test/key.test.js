'use strict';
// Key: never shows its bytes, is wiped by destroy(), follows the library's
// rules for zero bytes and passwords.
const test = require('node:test');
const assert = require('node:assert/strict');
const util = require('node:util');
const { spawnSync } = require('node:child_process');
const { compatcrypt, C, packageDir } = require('./helpers.js');

const { Key } = compatcrypt;
const hex = '0123456789abcdeffedcba9876543210';

test('the bytes never show, however the key is printed', () => {
  const key = Key.fromHex(hex);
  const bytes = key.export();
  const shown = [
    util.inspect(key), util.inspect({ key }, { showHidden: true, depth: 5 }), util.format('%o %O %s %j', key, key, key, key),
    JSON.stringify(key), JSON.stringify({ key }), String(key), `${key}`, key + '', Object.prototype.toString.call(key),
    JSON.stringify(structuredClone({ key })), Object.keys(key).join(), Object.getOwnPropertyNames(key).join(),
  ];
  for (const text of shown) {
    for (const form of [hex, hex.toUpperCase(), bytes.toString('base64'), bytes.toString('latin1')]) {
      assert.ok(!text.includes(form), `bytes in: ${text}`);
    }
  }
  assert.equal(util.inspect(key), 'Key <16 bytes, not shown>');
  assert.equal(key.export().toString('hex'), hex);
});

test('destroy() wipes the key at once; a coder made before keeps its own schedule', () => {
  const key = Key.fromHex(hex);
  const encoder = compatcrypt.createEncoder(key);
  assert.equal(key.destroyed, false);
  key.destroy();
  assert.equal(key.destroyed, true);
  assert.equal(util.inspect(key), 'Key <destroyed>');
  assert.throws(() => key.export(), { code: 'ERR_COMPATCRYPT_KEY_DESTROYED' });
  key.destroy();  // twice is fine
  const data = Buffer.from('eight by');
  assert.deepEqual(encoder.update(data), C.encode(data, Buffer.from(hex, 'hex')));
});

test('a Key is made only by its constructors', () => {
  const fake = Object.create(Key.prototype);
  assert.throws(() => fake.export(), TypeError);
  assert.throws(() => compatcrypt.encode(Buffer.alloc(8), fake), { code: 'ERR_INVALID_ARG_TYPE' });
  assert.throws(() => Key.prototype.export.call({}), TypeError);
  assert.equal(Key.isKey(fake), false);
  assert.equal(Key.isKey(Key.fromHex(hex)), true);
  assert.ok(new Key(Buffer.from(hex, 'hex')).equals(Key.fromHex(hex)));
  assert.ok(!Key.fromHex(hex).equals(Key.fromPassword('other')));
});

test('the zero-byte rule, as the library reports it', () => {
  const cases = [
    { key: '41424344454647484142434445464748', outer: 8, middle: 8, warning: '' },
    { key: '41004242434344444545464647474848', outer: 8, middle: 0 },
    { key: '41424344004647484142434445464748', outer: 2, middle: 8 },
    { key: '414243444546470041ff434445464748', outer: 8, middle: 3 },
    // Zero bytes with nothing after them cut nothing.
    { key: '00000000000000000000000000000000', outer: 8, middle: 8, warning: '' },
    { key: '41424344454647484142434445460000', outer: 8, middle: 8, warning: '' },
  ];
  for (const c of cases) {
    const key = Key.fromHex(c.key);
    assert.deepEqual(key.bytesInEffect, { outer: c.outer, middle: c.middle }, c.key);
    if (c.warning === '') assert.equal(key.warning, '');
    else assert.match(key.warning, /a zero byte cuts the (outer|middle) key/);
    // It codes exactly as the C library does with those bytes.
    const data = Buffer.from('sixteen bytes!!!');
    assert.deepEqual(compatcrypt.encode(data, key), C.encode(data, Buffer.from(c.key, 'hex')));
  }
});

// Warnings go through process.emitWarning, in a child so that this
// process's warnings stay its own.
function warningsOf(script) {
  const run = spawnSync(process.execPath, ['-e', `const c = require(${JSON.stringify(packageDir)}); ${script}`],
    { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  return run.stderr;
}

test('a cut key and an empty password warn, once, with a code', () => {
  const cut = warningsOf("c.Key.fromHex('41004242434344444545464647474848'); c.Key.fromHex('41004242434344444545464647474848');");
  assert.equal(cut.match(/\[COMPATCRYPT_KEY_CUT\] CompatcryptWarning: key: a zero byte cuts the middle key/g).length, 1);
  assert.ok(!cut.includes('41004242'));
  const empty = warningsOf("c.Key.fromPassword(''); c.encodeWithPassword(Buffer.from('x'), '');");
  assert.match(empty, /\[COMPATCRYPT_EMPTY_PASSWORD\] CompatcryptWarning: Key.fromPassword: the password is empty/);
  assert.match(empty, /\[COMPATCRYPT_EMPTY_PASSWORD\] CompatcryptWarning: encodeWithPassword: the password is empty/);
  // Off with --no-warnings; fatal with a listener.
  const quiet = spawnSync(process.execPath, ['--no-warnings', '-e',
    `require(${JSON.stringify(packageDir)}).Key.fromPassword('')`], { encoding: 'utf8' });
  assert.equal(quiet.stderr, '');
  const fatal = spawnSync(process.execPath, ['-e', `process.on('warning', (w) => {
      if (w.code === 'COMPATCRYPT_EMPTY_PASSWORD') process.exit(9); });
    require(${JSON.stringify(packageDir)}).Key.fromPassword(''); setTimeout(() => {}, 1000);`]);
  assert.equal(fatal.status, 9);
});

test('an empty password works as in the C library', () => {
  const run = spawnSync(process.execPath, ['--no-warnings', '-p', `const c = require(${JSON.stringify(packageDir)});
    c.Key.fromPassword('').export().toString('hex')`], { encoding: 'utf8' });
  assert.equal(run.stdout.trim(), C.keygen(Buffer.alloc(0)).toString('hex'));
});

