'use strict';
// createDigest(), createEncoder(key), createDecoder(key): Transform streams
// in the manner of crypto.createHash and crypto.createCipheriv, with
// update() and digest()/final() for use without streaming. Work that would
// hold the event loop (an encoder's chunk of 16 KiB or more, a decoder's
// of more than a piece) runs on the thread pool; a digest's large chunk is
// taken a piece at a time, yielding to the event loop between pieces.
const { Transform } = require('node:stream');
const native = require('./native.js');
const { typeError } = require('./errors.js');
const { boxOf } = require('./key.js');
const { ENCODE, DECODE, JOB } = require('./calls.js');

const pieceBytes = native.pieceBytes();
// Serial encoding runs about 30 ms a piece on the slowest engine: chunks
// from 16 KiB (about half a millisecond) go to the pool.
const poolBytes = { [ENCODE]: 16 * 1024, [DECODE]: pieceBytes + 1 };

class Digest extends Transform {
  #handle;

  constructor(options = undefined, handle = undefined) {
    super(options);
    this.#handle = handle === undefined ? native.digestNew() : handle;
  }

  // Adds data (Buffer, TypedArray, DataView, ArrayBuffer); returns this.
  update(data) {
    native.digestUpdate(this.#handle, data);
    return this;
  }

  // The 20-byte digest of everything given, as a Buffer or, with an
  // encoding ('hex', 'base64', ...), a string. Once only, as Hash.digest().
  digest(encoding = undefined) {
    const value = native.digestFinish(this.#handle);
    return encoding === undefined || encoding === 'buffer' ? value : value.toString(encoding);
  }

  // A new Digest holding the data given so far.
  copy(options = undefined) {
    return new Digest(options, native.digestCopy(this.#handle));
  }

  _transform(chunk, encoding, callback) {
    try {
      if (chunk.length <= pieceBytes) {
        native.digestUpdate(this.#handle, chunk);
        callback();
        return;
      }
      let at = 0;
      const step = () => {
        try {
          native.digestUpdate(this.#handle, chunk.subarray(at, at + pieceBytes));
          at += pieceBytes;
          if (at < chunk.length) setImmediate(step);
          else callback();
        } catch (error) {
          callback(error);
        }
      };
      step();
    } catch (error) {
      callback(error);
    }
  }

  _flush(callback) {
    try {
      callback(null, native.digestFinish(this.#handle));
    } catch (error) {
      callback(error);
    }
  }
}

class Coder extends Transform {
  #handle;
  #direction;

  constructor(direction, key, options) {
    super(options);
    this.#direction = direction;
    this.#handle = native.coderNew(direction, boxOf(key));
  }

  // The coding of every whole 8-byte block so far (up to 7 bytes are held
  // back for final()).
  update(data) {
    return native.coderUpdate(this.#handle, data);
  }

  // The coding of the held tail, by the tail rule; the coder then starts a
  // new message under the same key.
  final() {
    return native.coderFinish(this.#handle);
  }

  _transform(chunk, encoding, callback) {
    try {
      if (chunk.length < poolBytes[this.#direction]) {
        callback(null, native.coderUpdate(this.#handle, chunk));
        return;
      }
      const [promise] = native.start(JOB.stream, chunk, undefined, this.#handle, this.#direction);
      promise.then((out) => callback(null, out), callback);
    } catch (error) {
      callback(error);
    }
  }

  _flush(callback) {
    try {
      const tail = native.coderFinish(this.#handle);
      native.coderDestroy(this.#handle);
      callback(null, tail);
    } catch (error) {
      callback(error);
    }
  }

  // The key schedule and held bytes are wiped when the stream ends or is
  // destroyed (or, if busy on the pool, as soon as that piece is done).
  _destroy(error, callback) {
    native.coderDestroy(this.#handle);
    callback(error);
  }
}

class Encoder extends Coder {
  constructor(key, options = undefined) {
    super(ENCODE, key, options);
  }
}

class Decoder extends Coder {
  constructor(key, options = undefined) {
    super(DECODE, key, options);
  }
}

function checkOptions(options) {
  if (options !== undefined && (options === null || typeof options !== 'object')) {
    throw typeError('options', 'an object', options);
  }
  return options;
}

module.exports = {
  Digest,
  Encoder,
  Decoder,
  createDigest: (options = undefined) => new Digest(checkOptions(options)),
  createEncoder: (key, options = undefined) => new Encoder(key, checkOptions(options)),
  createDecoder: (key, options = undefined) => new Decoder(key, checkOptions(options)),
};
