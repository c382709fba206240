-- compatcrypt for PostgreSQL, from version 1.0 to 1.1: the key rule's report.
\echo Use "ALTER EXTENSION compatcrypt UPDATE TO '1.1'" to load this file. \quit

CREATE FUNCTION compatcrypt_key_bytes_in_effect(key bytea) RETURNS integer
  AS 'MODULE_PATHNAME' LANGUAGE C STRICT IMMUTABLE PARALLEL SAFE;
COMMENT ON FUNCTION compatcrypt_key_bytes_in_effect(bytea) IS
  'The bytes of a 16-byte key in effect: each DES key ends at its first zero byte, so a zero byte before a non-zero one leaves fewer than 16';
