'use strict';
// Key: a 16-byte cipher key whose bytes stay in native memory. They never
// show in util.inspect, JSON.stringify, String() or a structured clone;
// key.export() gives them when asked. key.destroy() wipes them at once,
// and collection wipes them otherwise.
const util = require('node:util');
const native = require('./native.js');
const { typeError, warnOnce } = require('./errors.js');

const PASSWORD_STRING = 1;  // a password taken as a NUL-terminated string
const E_PASSWORD_EMPTY = -6;

const token = Symbol('compatcrypt.Key');
let boxOf;

// The library's warning for a key that a zero byte cuts short.
function warnIfCut(box) {
  const warning = native.keyWarning(box);
  if (warning !== '') warnOnce(`key: ${warning}`, 'COMPATCRYPT_KEY_CUT');
}

// The key of a password; the library's policy: an empty password is
// allowed, with a warning (its key is the same for everyone); with
// `asString` (the password coders) a zero byte inside is refused.
function passwordKey(password, asString, what) {
  const [box, policy] = native.keyFromPassword(password, asString ? PASSWORD_STRING : 0, what);
  if (policy === E_PASSWORD_EMPTY) {
    warnOnce(`${what}: ${native.message(E_PASSWORD_EMPTY)}`, 'COMPATCRYPT_EMPTY_PASSWORD');
  }
  return box;
}

class Key {
  #box;

  // new Key(bytes): exactly 16 bytes (Buffer, TypedArray, DataView or
  // ArrayBuffer), copied.
  constructor(bytes, box = undefined) {
    this.#box = bytes === token ? box : native.keyFromBytes(bytes);
    warnIfCut(this.#box);
  }

  static from(bytes) {
    return new Key(bytes);
  }

  // Exactly 32 hex digits of either case.
  static fromHex(hex) {
    return new Key(token, native.keyFromHex(hex));
  }

  // The key derived from exactly these bytes (a string counts as its
  // UTF-8 bytes), zero bytes included.
  static fromPassword(password) {
    return new Key(token, passwordKey(password, false, 'Key.fromPassword'));
  }

  static isKey(value) {
    return typeof value === 'object' && value !== null && #box in value;
  }

  get destroyed() {
    try {
      native.keyInEffect(this.#box);
      return false;
    } catch {
      return true;
    }
  }

  // The bytes each half keeps after the zero-byte rule: 8 and 8 unless a
  // zero byte cuts a half short.
  get bytesInEffect() {
    const [outer, middle] = native.keyInEffect(this.#box);
    return { outer, middle };
  }

  // The library's warning text for a cut key; '' when no half is cut.
  get warning() {
    return native.keyWarning(this.#box);
  }

  // A new Buffer with the 16 key bytes: the one way to see them.
  export() {
    return native.keyExport(this.#box);
  }

  equals(other) {
    if (!Key.isKey(other)) throw typeError('other', 'a Key', other);
    return native.keyEquals(this.#box, other.#box);
  }

  // Wipes the key bytes now; the key is then unusable
  // (ERR_COMPATCRYPT_KEY_DESTROYED). Coders made from it keep working.
  destroy() {
    native.keyDestroy(this.#box);
  }

  toString() {
    return this.destroyed ? 'Key <destroyed>' : 'Key <16 bytes, not shown>';
  }

  toJSON() {
    return { type: 'compatcrypt.Key', bytes: 'not shown' };
  }

  [util.inspect.custom]() {
    return this.toString();
  }

  get [Symbol.toStringTag]() {
    return 'Key';
  }

  static {
    boxOf = (key, name = 'key') => {
      if (typeof key !== 'object' || key === null || !(#box in key)) throw typeError(name, 'a Key', key);
      return key.#box;
    };
  }
}

module.exports = { Key, boxOf, passwordKey };
