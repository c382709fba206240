'use strict';
// Errors as Node gives them: an Error with a `code`; AbortError for a call
// stopped by its AbortSignal. No message holds a byte of data, a key or a
// password: arguments are named, and only their types are described.
const util = require('node:util');

class AbortError extends Error {
  constructor(message = 'The operation was aborted', options = undefined) {
    super(message, options);
    this.code = 'ABORT_ERR';
    this.name = 'AbortError';
  }
}

function describe(value) {
  if (value === null) return 'null';
  if (value === undefined) return 'undefined';
  if (typeof value === 'function') return 'a function';
  if (typeof value !== 'object') return `type ${typeof value}`;
  if (Array.isArray(value)) return 'an Array';
  return 'an object';
}

function typeError(name, expected, value) {
  const error = new TypeError(`The "${name}" argument must be ${expected}; received ${describe(value)}`);
  error.code = 'ERR_INVALID_ARG_TYPE';
  return error;
}

function validateObject(value, name) {
  if (value === undefined) return {};
  if (value === null || typeof value !== 'object') throw typeError(name, 'an object', value);
  return value;
}

function validateSignal(signal, name) {
  if (signal === undefined) return;
  if (signal === null || typeof signal !== 'object' || !('aborted' in signal) ||
      typeof signal.addEventListener !== 'function') {
    throw typeError(name, 'an AbortSignal', signal);
  }
}

// A file error gets the system's name for its errno (ENOENT, ...).
function withSystemCode(error) {
  if (error && error.code === 'ERR_COMPATCRYPT_FILE' && typeof error.errno === 'number') {
    try {
      error.osCode = util.getSystemErrorName(error.errno);
    } catch {
      // an errno this platform does not name
    }
  }
  return error;
}

// Library warnings go through process.emitWarning, once per text: turn them
// off with --no-warnings (or --disable-warning=CODE), or make them fatal
// with a 'warning' listener that throws for their code.
const warned = new Set();
function warnOnce(message, code) {
  if (warned.has(message)) return;
  warned.add(message);
  process.emitWarning(message, { type: 'CompatcryptWarning', code });
}

module.exports = { AbortError, typeError, validateObject, validateSignal, withSystemCode, warnOnce };
