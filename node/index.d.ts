// Type declarations of the compatcrypt package.
/// <reference types="node" />
import { Transform, TransformOptions } from 'node:stream';

/** Bytes the calls read: a Buffer, any TypedArray or DataView (their bytes), an ArrayBuffer. A SharedArrayBuffer is refused. */
export type BinaryLike = NodeJS.ArrayBufferView | ArrayBuffer;
/** A password: a string (its UTF-8 bytes) or bytes. */
export type Password = string | BinaryLike;
/** n + 1 offsets cutting one buffer into n records. */
export type Offsets = number[] | bigint[] | Int32Array | Uint32Array | BigInt64Array | BigUint64Array | Float64Array;
export type PathLike = string | Buffer | URL;

export interface AsyncOptions {
  /** Stops the work before its next piece; the Promise rejects with an AbortError. */
  signal?: AbortSignal;
}
export interface FileOptions extends AsyncOptions {
  offset?: number | bigint;
}
export interface FlatOptions {
  /** Where the result goes: as long as data, and data itself or apart from it. */
  out?: NodeJS.ArrayBufferView;
}

export const DIGEST_SIZE: 20;
export const KEY_SIZE: 16;
/** The bytes the Promise forms work on between two looks at their signal. */
export const PIECE_BYTES: number;
export const BINDING_VERSION: number;

/** A 16-byte cipher key. Its bytes never show in util.inspect, JSON.stringify or String(); export() gives them. */
export class Key {
  /** Exactly 16 bytes, copied. */
  constructor(bytes: BinaryLike);
  static from(bytes: BinaryLike): Key;
  /** Exactly 32 hex digits of either case. */
  static fromHex(hex: string): Key;
  /** The key of exactly these bytes; an empty password gives a warning (COMPATCRYPT_EMPTY_PASSWORD). */
  static fromPassword(password: Password): Key;
  static isKey(value: unknown): value is Key;
  readonly destroyed: boolean;
  /** The bytes each half keeps after the zero-byte rule (8 each unless cut). */
  readonly bytesInEffect: { outer: number; middle: number };
  /** The library's warning for a key a zero byte cuts short; '' otherwise. */
  readonly warning: string;
  /** A new Buffer with the 16 key bytes. */
  export(): Buffer;
  /** Compared without stopping at the first difference. */
  equals(other: Key): boolean;
  /** Wipes the key bytes now; the key is unusable afterwards. */
  destroy(): void;
  toJSON(): { type: 'compatcrypt.Key'; bytes: 'not shown' };
}

/** An error stopped by its AbortSignal: name 'AbortError', code 'ABORT_ERR', cause the signal's reason. */
export class AbortError extends Error {
  readonly code: 'ABORT_ERR';
}

/** Errors carry a code: ERR_INVALID_ARG_TYPE, ERR_COMPATCRYPT_KEY_LENGTH, ERR_COMPATCRYPT_FILE (with errno, osCode, path), ... */
export interface CompatcryptError extends Error {
  code: string;
  errno?: number;
  osCode?: string;
  path?: string;
}

export function digest(data: BinaryLike): Buffer;
export function digestAsync(data: BinaryLike, options?: AsyncOptions): Promise<Buffer>;
export function fileDigest(path: PathLike, offset?: number | bigint | { offset?: number | bigint }): Buffer;
export function fileDigestAsync(path: PathLike, offset?: number | bigint, options?: AsyncOptions): Promise<Buffer>;
export function fileDigestAsync(path: PathLike, options?: FileOptions): Promise<Buffer>;

export function encode(data: BinaryLike, key: Key): Buffer;
export function decode(data: BinaryLike, key: Key): Buffer;
export function encodeAsync(data: BinaryLike, key: Key, options?: AsyncOptions): Promise<Buffer>;
export function decodeAsync(data: BinaryLike, key: Key, options?: AsyncOptions): Promise<Buffer>;

/** Under the key of the password taken as a NUL-terminated string: a zero byte inside is refused. */
export function encodeWithPassword(data: BinaryLike, password: Password): Buffer;
export function decodeWithPassword(data: BinaryLike, password: Password): Buffer;
export function encodeWithPasswordAsync(data: BinaryLike, password: Password, options?: AsyncOptions): Promise<Buffer>;
export function decodeWithPasswordAsync(data: BinaryLike, password: Password, options?: AsyncOptions): Promise<Buffer>;

export function encodeBatch(records: Iterable<BinaryLike>, key: Key): Buffer[];
export function decodeBatch(records: Iterable<BinaryLike>, key: Key): Buffer[];
export function encodeBatchAsync(records: Iterable<BinaryLike>, key: Key, options?: AsyncOptions): Promise<Buffer[]>;
export function decodeBatchAsync(records: Iterable<BinaryLike>, key: Key, options?: AsyncOptions): Promise<Buffer[]>;
export function encodeBatchFlat<T extends NodeJS.ArrayBufferView = Buffer>(data: BinaryLike, offsets: Offsets, key: Key, options?: FlatOptions): T;
export function decodeBatchFlat<T extends NodeJS.ArrayBufferView = Buffer>(data: BinaryLike, offsets: Offsets, key: Key, options?: FlatOptions): T;
export function encodeBatchFlatAsync(data: BinaryLike, offsets: Offsets, key: Key, options?: AsyncOptions): Promise<Buffer>;
export function decodeBatchFlatAsync(data: BinaryLike, offsets: Offsets, key: Key, options?: AsyncOptions): Promise<Buffer>;

export class Digest extends Transform {
  update(data: BinaryLike): this;
  digest(): Buffer;
  digest(encoding: BufferEncoding): string;
  copy(options?: TransformOptions): Digest;
}
export class Encoder extends Transform {
  constructor(key: Key, options?: TransformOptions);
  update(data: BinaryLike): Buffer;
  final(): Buffer;
}
export class Decoder extends Transform {
  constructor(key: Key, options?: TransformOptions);
  update(data: BinaryLike): Buffer;
  final(): Buffer;
}
export function createDigest(options?: TransformOptions): Digest;
export function createEncoder(key: Key, options?: TransformOptions): Encoder;
export function createDecoder(key: Key, options?: TransformOptions): Decoder;

declare const compatcrypt: {
  DIGEST_SIZE: typeof DIGEST_SIZE; KEY_SIZE: typeof KEY_SIZE; PIECE_BYTES: number; BINDING_VERSION: number;
  Key: typeof Key; AbortError: typeof AbortError;
  digest: typeof digest; digestAsync: typeof digestAsync; fileDigest: typeof fileDigest; fileDigestAsync: typeof fileDigestAsync;
  encode: typeof encode; decode: typeof decode; encodeAsync: typeof encodeAsync; decodeAsync: typeof decodeAsync;
  encodeWithPassword: typeof encodeWithPassword; decodeWithPassword: typeof decodeWithPassword;
  encodeWithPasswordAsync: typeof encodeWithPasswordAsync; decodeWithPasswordAsync: typeof decodeWithPasswordAsync;
  encodeBatch: typeof encodeBatch; decodeBatch: typeof decodeBatch; encodeBatchAsync: typeof encodeBatchAsync;
  decodeBatchAsync: typeof decodeBatchAsync; encodeBatchFlat: typeof encodeBatchFlat; decodeBatchFlat: typeof decodeBatchFlat;
  encodeBatchFlatAsync: typeof encodeBatchFlatAsync; decodeBatchFlatAsync: typeof decodeBatchFlatAsync;
  Digest: typeof Digest; Encoder: typeof Encoder; Decoder: typeof Decoder;
  createDigest: typeof createDigest; createEncoder: typeof createEncoder; createDecoder: typeof createDecoder;
};
export default compatcrypt;
