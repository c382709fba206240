-- compatcrypt for PostgreSQL, version 1.0.
\echo Use "CREATE EXTENSION compatcrypt" to load this file. \quit

CREATE FUNCTION compatcrypt_digest(data bytea) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_digest(bytea) IS
  'The 20-byte compatcrypt digest (MessageDigest) of the bytes';

CREATE FUNCTION compatcrypt_key(password bytea) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_key(bytea) IS
  'The 16-byte key KeyGenerating derives from the password''s bytes, zero bytes included';

CREATE FUNCTION compatcrypt_encode(data bytea, key bytea) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_encode(bytea, bytea) IS
  'Two-key triple-DES encoding (EncodeFunction) under a 16-byte key; the output is as long as the input';

CREATE FUNCTION compatcrypt_decode(data bytea, key bytea) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_decode(bytea, bytea) IS
  'The inverse of compatcrypt_encode (DecodeFunction) under a 16-byte key';

CREATE FUNCTION compatcrypt_encode_password(data bytea, password text) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_encode_password(bytea, text) IS
  'compatcrypt_encode under the key of the password''s bytes in the database encoding (EncodeKey)';

CREATE FUNCTION compatcrypt_decode_password(data bytea, password text) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_decode_password(bytea, text) IS
  'compatcrypt_decode under the key of the password''s bytes in the database encoding (DecodeKey)';

-- A file's bytes change under the same name: VOLATILE. Server files are for
-- superusers and members of pg_read_server_files only.
CREATE FUNCTION compatcrypt_file_digest(path text, "offset" bigint) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT VOLATILE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_file_digest(text, bigint) IS
  'The compatcrypt digest (FileDigest) of a server file from the byte offset to its end; superusers and pg_read_server_files only';
REVOKE ALL ON FUNCTION compatcrypt_file_digest(text, bigint) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION compatcrypt_file_digest(text, bigint) TO pg_read_server_files;

CREATE FUNCTION compatcrypt_digest_agg_step(internal, bytea) RETURNS internal
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_digest_agg_step(internal, bytea) IS
  'Transition function of compatcrypt_digest_agg';
CREATE FUNCTION compatcrypt_digest_agg_final(internal) RETURNS bytea
  AS 'MODULE_PATHNAME' LANGUAGE C IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_digest_agg_final(internal) IS
  'Final function of compatcrypt_digest_agg';

CREATE AGGREGATE compatcrypt_digest_agg(chunk bytea) (
  SFUNC = compatcrypt_digest_agg_step,
  STYPE = internal,
  FINALFUNC = compatcrypt_digest_agg_final,
  PARALLEL = SAFE
);
COMMENT ON AGGREGATE compatcrypt_digest_agg(bytea) IS
  'The compatcrypt digest of the chunks concatenated in the aggregate''s ORDER BY, as compatcrypt_digest(string_agg(chunk, '''' ORDER BY ...)) without building the concatenation';
