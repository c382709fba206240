'use strict';
// The calls: synchronous forms for small inputs, and Promise forms that run
// on libuv's thread pool in pieces, stopped between two by an AbortSignal.
const { fileURLToPath } = require('node:url');
const util = require('node:util');
const native = require('./native.js');
const { AbortError, typeError, validateObject, validateSignal, withSystemCode } = require('./errors.js');
const { boxOf, passwordKey } = require('./key.js');

const ENCODE = 1;
const DECODE = 2;
const JOB = { digest: 0, code: 1, list: 2, flat: 3, stream: 4 };

// ---- Arguments ---------------------------------------------------------

function pathOf(path) {
  if (path instanceof URL) return fileURLToPath(path);
  return path;
}

// fileDigest(path, offset) and fileDigestAsync(path, offset, options) also
// take the offset inside the options: fileDigestAsync(path, { offset }).
function fileArguments(offset, options) {
  if (offset !== null && typeof offset === 'object' && options === undefined) {
    options = offset;
    offset = options.offset;
  }
  options = validateObject(options, 'options');
  return { offset: offset === undefined ? 0 : offset, options };
}

// The byte length of a record, read with the built-in getters (an object
// cannot lie about it).
const typedArrayByteLength = Object.getOwnPropertyDescriptor(
  Object.getPrototypeOf(Uint8Array.prototype), 'byteLength').get;
const dataViewByteLength = Object.getOwnPropertyDescriptor(DataView.prototype, 'byteLength').get;
const arrayBufferByteLength = Object.getOwnPropertyDescriptor(ArrayBuffer.prototype, 'byteLength').get;

function byteLengthOf(value) {
  if (util.types.isTypedArray(value)) return typedArrayByteLength.call(value);
  if (util.types.isDataView(value)) return dataViewByteLength.call(value);
  if (util.types.isArrayBuffer(value)) return arrayBufferByteLength.call(value);
  return 0;  // refused by the addon
}

// The records of a batch as a fresh Array (any iterable is taken), so that
// no getter of the caller's runs while the addon reads them.
function recordList(records) {
  if (records === null || typeof records !== 'object' || typeof records[Symbol.iterator] !== 'function') {
    throw typeError('records', 'an iterable of Buffers, TypedArrays, DataViews or ArrayBuffers', records);
  }
  return Array.from(records);
}

// The coded records back to back, cut into one Buffer per record.
function cut(flat, list) {
  const out = new Array(list.length);
  let at = 0;
  for (let i = 0; i < list.length; i++) {
    const size = byteLengthOf(list[i]);
    out[i] = flat.subarray(at, at + size);
    at += size;
  }
  return out;
}

function offsetArray(offsets) {
  if (Array.isArray(offsets)) {
    if (offsets.length > 0 && typeof offsets[0] === 'bigint') return BigInt64Array.from(offsets);
    const numbers = new Float64Array(offsets.length);
    for (let i = 0; i < offsets.length; i++) {
      if (typeof offsets[i] !== 'number') throw typeError(`offsets[${i}]`, 'a number', offsets[i]);
      numbers[i] = offsets[i];
    }
    return numbers;
  }
  return offsets;  // a typed array, checked by the addon
}

// ---- Promise forms -----------------------------------------------------

// Starts a job (start() returns [promise, control]) and ties it to the
// signal: an abort stops the job before its next piece, and the Promise
// rejects with an AbortError whose cause is the signal's reason.
function run(start, options) {
  try {
    options = validateObject(options, 'options');
    const { signal } = options;
    validateSignal(signal, 'options.signal');
    if (signal !== undefined && signal.aborted) {
      return Promise.reject(new AbortError(undefined, { cause: signal.reason }));
    }
    const [promise, control] = start();
    if (signal === undefined) return promise.catch((error) => Promise.reject(withSystemCode(error)));
    const onAbort = () => native.stop(control);
    signal.addEventListener('abort', onAbort, { once: true });
    return promise.then(
      (value) => {
        signal.removeEventListener('abort', onAbort);
        return value;
      },
      (error) => {
        signal.removeEventListener('abort', onAbort);
        if (error && error.code === 'ERR_COMPATCRYPT_STOPPED') {
          throw new AbortError(undefined, { cause: signal.reason });
        }
        throw withSystemCode(error);
      });
  } catch (error) {
    return Promise.reject(error);
  }
}

// ---- The API -------------------------------------------------------------

function digest(data) {
  const out = Buffer.allocUnsafe(20);
  native.digest(data, out);
  return out;
}

function digestAsync(data, options = undefined) {
  return run(() => native.start(JOB.digest, data, undefined, undefined, 0), options);
}

function fileDigest(path, offset = 0) {
  const args = fileArguments(offset, undefined);
  try {
    return native.fileDigest(pathOf(path), args.offset);
  } catch (error) {
    throw withSystemCode(error);
  }
}

function fileDigestAsync(path, offset = undefined, options = undefined) {
  let args;
  try {
    args = fileArguments(offset, options);
  } catch (error) {
    return Promise.reject(error);
  }
  return run(() => native.startFile(pathOf(path), args.offset), args.options);
}

// The output Buffer is made here: Node makes a small one several times
// faster than an addon can.
function code(direction, data, box) {
  return native.code(direction, data, box, Buffer.allocUnsafeSlow(byteLengthOf(data)));
}

const encode = (data, key) => code(ENCODE, data, boxOf(key));
const decode = (data, key) => code(DECODE, data, boxOf(key));
const encodeAsync = (data, key, options = undefined) =>
  run(() => native.start(JOB.code, data, undefined, boxOf(key), ENCODE), options);
const decodeAsync = (data, key, options = undefined) =>
  run(() => native.start(JOB.code, data, undefined, boxOf(key), DECODE), options);

// The password coders: the key of the password taken as a NUL-terminated
// string (a zero byte inside is refused), wiped once the call has its coder.
function withPassword(password, what, call) {
  const box = passwordKey(password, true, what);
  try {
    return call(box);
  } finally {
    native.keyDestroy(box);
  }
}

const encodeWithPassword = (data, password) =>
  withPassword(password, 'encodeWithPassword', (box) => code(ENCODE, data, box));
const decodeWithPassword = (data, password) =>
  withPassword(password, 'decodeWithPassword', (box) => code(DECODE, data, box));

function passwordAsync(direction, what, data, password, options) {
  try {
    return withPassword(password, what,
      (box) => run(() => native.start(JOB.code, data, undefined, box, direction), options));
  } catch (error) {
    return Promise.reject(error);
  }
}
const encodeWithPasswordAsync = (data, password, options = undefined) =>
  passwordAsync(ENCODE, 'encodeWithPasswordAsync', data, password, options);
const decodeWithPasswordAsync = (data, password, options = undefined) =>
  passwordAsync(DECODE, 'decodeWithPasswordAsync', data, password, options);

// Batches: one coder (one key schedule) for every record.
function batch(direction, records, key) {
  const list = recordList(records);
  return cut(native.batchList(direction, list, boxOf(key)), list);
}

function batchAsync(direction, records, key, options) {
  let list;
  try {
    list = recordList(records);
  } catch (error) {
    return Promise.reject(error);
  }
  const sizes = list.map(byteLengthOf);
  return run(() => native.start(JOB.list, list, undefined, boxOf(key), direction), options).then((flat) => {
    const out = new Array(sizes.length);
    let at = 0;
    for (let i = 0; i < sizes.length; i++) {
      out[i] = flat.subarray(at, at + sizes[i]);
      at += sizes[i];
    }
    return out;
  });
}

function batchFlat(direction, data, offsets, key, options) {
  const { out } = validateObject(options, 'options');
  return native.batchFlat(direction, data, offsetArray(offsets), boxOf(key), out);
}

function batchFlatAsync(direction, data, offsets, key, options) {
  return run(() => native.start(JOB.flat, data, offsetArray(offsets), boxOf(key), direction), options);
}

module.exports = {
  ENCODE,
  DECODE,
  JOB,
  run,
  digest,
  digestAsync,
  fileDigest,
  fileDigestAsync,
  encode,
  decode,
  encodeAsync,
  decodeAsync,
  encodeWithPassword,
  decodeWithPassword,
  encodeWithPasswordAsync,
  decodeWithPasswordAsync,
  encodeBatch: (records, key) => batch(ENCODE, records, key),
  decodeBatch: (records, key) => batch(DECODE, records, key),
  encodeBatchAsync: (records, key, options = undefined) => batchAsync(ENCODE, records, key, options),
  decodeBatchAsync: (records, key, options = undefined) => batchAsync(DECODE, records, key, options),
  encodeBatchFlat: (data, offsets, key, options = undefined) => batchFlat(ENCODE, data, offsets, key, options),
  decodeBatchFlat: (data, offsets, key, options = undefined) => batchFlat(DECODE, data, offsets, key, options),
  encodeBatchFlatAsync: (data, offsets, key, options = undefined) =>
    batchFlatAsync(ENCODE, data, offsets, key, options),
  decodeBatchFlatAsync: (data, offsets, key, options = undefined) =>
    batchFlatAsync(DECODE, data, offsets, key, options),
};
