-- The compatcrypt extension's regression script. Run by postgresql_test.sh
-- with the variables cases (the known-answer INSERTs written by sql_oracle
-- from libcompatcrypt) and work (a directory the server can read).
\set VERBOSITY default
\set SHOW_CONTEXT never
\pset null '(null)'
CREATE EXTENSION compatcrypt;
CREATE EXTENSION pgcrypto;

-- Every function: STRICT, volatility, PARALLEL SAFE, a comment.
SELECT p.oid::regprocedure AS function, p.proisstrict AS strict, p.provolatile AS volatility,
       p.proparallel AS parallel, obj_description(p.oid, 'pg_proc') IS NOT NULL AS commented
  FROM pg_proc p JOIN pg_depend d ON d.objid = p.oid AND d.deptype = 'e'
  JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'compatcrypt'
 ORDER BY 1::text;

-- The extension's versions: 1.1 is the default, and a database that has
-- 1.0 reaches the same functions by ALTER EXTENSION ... UPDATE.
SELECT extversion FROM pg_extension WHERE extname = 'compatcrypt';
SELECT name, version, installed FROM pg_available_extension_versions WHERE name = 'compatcrypt' ORDER BY version;
SELECT string_agg(p.oid::regprocedure::text, ', ' ORDER BY p.oid::regprocedure::text) AS functions_of_1_1
  FROM pg_proc p JOIN pg_depend d ON d.objid = p.oid AND d.deptype = 'e'
  JOIN pg_extension e ON e.oid = d.refobjid AND e.extname = 'compatcrypt' \gset
CREATE DATABASE upgraded;
\c upgraded
CREATE EXTENSION compatcrypt VERSION '1.0';
SELECT compatcrypt_key_bytes_in_effect('\x0123456789abcdeffedcba9876543210'::bytea);
\echo :LAST_ERROR_SQLSTATE
ALTER EXTENSION compatcrypt UPDATE;
SELECT extversion,
       (SELECT string_agg(p.oid::regprocedure::text, ', ' ORDER BY p.oid::regprocedure::text)
          FROM pg_proc p JOIN pg_depend d ON d.objid = p.oid AND d.deptype = 'e' WHERE d.refobjid = e.oid)
         = :'functions_of_1_1' AS same_functions_as_new,
       compatcrypt_key_bytes_in_effect('\x0123456789abcdeffedcba9876543210'::bytea) AS bytes_in_effect
  FROM pg_extension e WHERE extname = 'compatcrypt';
\c postgres

-- Known answers: each function equals the C function it calls. Some keys
-- of the table are cut by a zero byte on purpose; their warnings are
-- tested below.
SET compatcrypt.weak_key = ignore;
CREATE TABLE cases (id int PRIMARY KEY, data bytea, key bytea, password text, digest bytea, encoded bytea,
                    decoded bytea, password_key bytea, password_encoded bytea, password_decoded bytea);
\i :cases
SELECT count(*) AS cases,
       count(*) FILTER (WHERE compatcrypt_digest(data) IS DISTINCT FROM digest) AS digest_wrong,
       count(*) FILTER (WHERE compatcrypt_encode(data, key) IS DISTINCT FROM encoded) AS encode_wrong,
       count(*) FILTER (WHERE compatcrypt_decode(data, key) IS DISTINCT FROM decoded) AS decode_wrong,
       count(*) FILTER (WHERE compatcrypt_decode(encoded, key) IS DISTINCT FROM data) AS round_trip_wrong,
       count(*) FILTER (WHERE compatcrypt_key(convert_to(password, 'UTF8')) IS DISTINCT FROM password_key) AS key_wrong,
       count(*) FILTER (WHERE compatcrypt_encode_password(data, password) IS DISTINCT FROM password_encoded)
         AS encode_password_wrong,
       count(*) FILTER (WHERE compatcrypt_decode_password(data, password) IS DISTINCT FROM password_decoded)
         AS decode_password_wrong,
       count(*) FILTER (WHERE compatcrypt_encode(data, compatcrypt_key(convert_to(password, 'UTF8')))
                              IS DISTINCT FROM password_encoded) AS password_key_form_wrong
  FROM cases;
RESET compatcrypt.weak_key;
-- compatcrypt_key takes every byte, zero bytes included.
SELECT compatcrypt_key('\x610062'::bytea) <> compatcrypt_key('\x61'::bytea) AS zero_byte_counts;

-- NULL in, NULL out.
SELECT compatcrypt_digest(NULL) AS digest, compatcrypt_key(NULL) AS key, compatcrypt_encode(NULL, '\x00'::bytea) AS encode,
       compatcrypt_decode('\x00'::bytea, NULL) AS decode, compatcrypt_encode_password(NULL, 'pw') AS encode_password,
       compatcrypt_decode_password('\x00'::bytea, NULL) AS decode_password,
       compatcrypt_file_digest(NULL, 0) AS file_digest, compatcrypt_file_digest(:'work' || '/xxabc.bin', NULL) AS file_digest_offset;

-- Bad input: an ERROR with its SQLSTATE, naming the argument, never the key.
SELECT compatcrypt_encode('\x0102'::bytea, '\x73656372657473'::bytea);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_decode('\x0102'::bytea, '\x736563726574736563726574736563726574736563726574'::bytea);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_decode('\x0102'::bytea, ''::bytea);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_file_digest(:'work' || '/xxabc.bin', -1);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_file_digest(:'work' || '/xxabc.bin', 2147483648);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_file_digest(:'work' || '/no such file', 0);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_file_digest(:'work', 0);
\echo :LAST_ERROR_SQLSTATE
-- A FIFO without a writer: refused at once (it cannot be read from an
-- offset), never waited on.
SELECT compatcrypt_file_digest(:'work' || '/fifo', 0);
\echo :LAST_ERROR_SQLSTATE
-- A text value cannot hold a zero byte: a password with one never reaches the function.
SELECT compatcrypt_encode_password('\x01'::bytea, 'ab' || chr(0) || 'cd');
\echo :LAST_ERROR_SQLSTATE

-- The file digest: the bytes from the offset to the end; at or past the
-- end, the digest of nothing.
SELECT compatcrypt_file_digest(:'work' || '/xxabc.bin', 2) = compatcrypt_digest('abc') AS from_offset,
       compatcrypt_file_digest(:'work' || '/xxabc.bin', 0) = compatcrypt_digest('xxabc') AS whole,
       compatcrypt_file_digest(:'work' || '/xxabc.bin', 99) = compatcrypt_digest('') AS past_end;
-- Only for superusers and members of pg_read_server_files.
CREATE ROLE reader;
SET ROLE reader;
SELECT compatcrypt_file_digest(:'work' || '/xxabc.bin', 0);
\echo :LAST_ERROR_SQLSTATE
RESET ROLE;
-- EXECUTE granted by mistake does not open the server's files.
GRANT EXECUTE ON FUNCTION compatcrypt_file_digest(text, bigint) TO reader;
SET ROLE reader;
SELECT compatcrypt_file_digest(:'work' || '/xxabc.bin', 0);
\echo :LAST_ERROR_SQLSTATE
RESET ROLE;
REVOKE EXECUTE ON FUNCTION compatcrypt_file_digest(text, bigint) FROM reader;
GRANT pg_read_server_files TO reader;
SET ROLE reader;
SELECT compatcrypt_file_digest(:'work' || '/xxabc.bin', 2) = compatcrypt_digest('abc') AS member_may_read;
RESET ROLE;

-- The aggregate equals the digest of the concatenation, for objects cut
-- into chunks of 0 to 300 bytes (whole blocks, tails, empty and NULL
-- chunks), in the order of the chunk numbers.
CREATE TABLE chunks AS
  SELECT object, n, CASE WHEN (object * 7 + n) % 23 = 0 THEN NULL
                         ELSE substring(decode(repeat(md5(object::text || '/' || n::text), 10), 'hex')
                                        FROM 1 FOR (object * 31 + n * 17) % 301) END AS chunk
    FROM generate_series(1, 400) AS object, generate_series(1, 1 + object % 13) AS n;
SELECT count(*) AS objects,
       count(*) FILTER (WHERE agg IS DISTINCT FROM whole) AS aggregate_wrong,
       min(length) AS shortest, max(length) AS longest
  FROM (SELECT object, compatcrypt_digest_agg(chunk ORDER BY n) AS agg,
               compatcrypt_digest(string_agg(chunk, '' ORDER BY n)) AS whole,
               length(string_agg(chunk, '' ORDER BY n)) AS length
          FROM chunks GROUP BY object) AS o;
SELECT compatcrypt_digest_agg(chunk) IS NULL AS no_rows_null FROM chunks WHERE false;
SELECT compatcrypt_digest_agg(chunk ORDER BY n) = compatcrypt_digest('') AS empty_chunks
  FROM (VALUES (1, ''::bytea), (2, '')) AS t(n, chunk);

-- Parallel query gives what a serial one gives.
CREATE TABLE rows96 AS
  SELECT i AS id, plain, compatcrypt_encode(plain, '\x0123456789abcdeffedcba9876543210'::bytea) AS payload
    FROM generate_series(1, 20000) AS i,
         LATERAL (SELECT decode(md5(i::text) || md5((i + 1)::text) || md5((i + 2)::text) || md5((i + 3)::text)
                                || md5((i + 4)::text) || md5((i + 5)::text), 'hex') AS plain) AS p;
ANALYZE rows96;
SET max_parallel_workers_per_gather = 0;
CREATE TABLE serial_result AS
  SELECT count(*) AS rows, sum(hashtext(encode(compatcrypt_decode(payload, '\x0123456789abcdeffedcba9876543210'::bytea), 'hex'))) AS h,
         count(*) FILTER (WHERE compatcrypt_decode(payload, '\x0123456789abcdeffedcba9876543210'::bytea) <> plain) AS wrong
    FROM rows96;
SET max_parallel_workers_per_gather = 2;
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
EXPLAIN (COSTS OFF)
  SELECT count(*), sum(hashtext(encode(compatcrypt_decode(payload, '\x0123456789abcdeffedcba9876543210'::bytea), 'hex')))
    FROM rows96;
CREATE FUNCTION workers_launched(query text) RETURNS text LANGUAGE plpgsql AS $$
DECLARE line text;
BEGIN
  FOR line IN EXECUTE 'EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF, SUMMARY OFF) ' || query LOOP
    IF line LIKE '%Workers Launched%' THEN RETURN trim(line); END IF;
  END LOOP;
  RETURN 'no Gather';
END $$;
SELECT workers_launched($$SELECT sum(hashtext(encode(compatcrypt_decode(payload, '\x0123456789abcdeffedcba9876543210'::bytea), 'hex'))) FROM rows96$$);
SELECT p.rows, p.h = s.h AS same_as_serial, p.wrong, s.wrong AS serial_wrong
  FROM (SELECT count(*) AS rows, sum(hashtext(encode(compatcrypt_decode(payload, '\x0123456789abcdeffedcba9876543210'::bytea), 'hex'))) AS h,
               count(*) FILTER (WHERE compatcrypt_decode(payload, '\x0123456789abcdeffedcba9876543210'::bytea) <> plain) AS wrong
          FROM rows96) AS p, serial_result AS s;
RESET max_parallel_workers_per_gather;
RESET parallel_setup_cost;
RESET parallel_tuple_cost;
RESET min_parallel_table_scan_size;

-- A cancel in the middle of a value (here the backend cancels itself just
-- before the call) is an ERROR a block can catch; the same calls give the
-- right bytes afterwards, from the same statement.
SET plan_cache_mode = force_generic_plan;
DO $$
DECLARE
  v bytea := convert_to(repeat(repeat('a', 1048576), 3), 'UTF8');
  k bytea := '\x0123456789abcdeffedcba9876543210';
  want_d bytea := compatcrypt_digest(v || ''::bytea);
  want_e bytea := compatcrypt_encode(v || ''::bytea, k);
  d bytea;
  e bytea;
  stopped int := 0;
  correct int := 0;
BEGIN
  FOR i IN 1..3 LOOP
    BEGIN
      d := compatcrypt_digest(CASE WHEN i = 1 AND pg_cancel_backend(pg_backend_pid()) THEN v ELSE v END);
      e := compatcrypt_encode(CASE WHEN i = 2 AND pg_cancel_backend(pg_backend_pid()) THEN v ELSE v END, k);
      IF d = want_d AND e = want_e THEN correct := correct + 1; END IF;
    EXCEPTION WHEN query_canceled THEN stopped := stopped + 1;
    END;
  END LOOP;
  RAISE NOTICE 'stopped % times, then correct % time(s)', stopped, correct;
END $$;
RESET plan_cache_mode;

-- The key rule: each DES key (the even-numbered bytes, the odd-numbered
-- ones) ends at its first zero byte.
SELECT key, compatcrypt_key_bytes_in_effect(key) AS bytes_in_effect
  FROM (VALUES ('\x0123456789abcdeffedcba9876543210'::bytea), ('\x00000000000000000000000000000000'),
               ('\x00112233445566778899aabbccddeeff'), ('\x0123450089abcdeffedcba9876543210'),
               ('\x0123456789abcdeffedcba98765432ff'), ('\x01230067890bcdeffedcba9800543210'),
               ('\x0123456789abcdeffedcba9876543200')) AS k(key);
SELECT compatcrypt_key_bytes_in_effect('\x0102'::bytea);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_key_bytes_in_effect(NULL) AS null_key;
-- A cut key codes as the shorter key it is: the bytes after the zero count as zero.
SELECT compatcrypt_encode('some data', '\x0123450089abcdeffedcba9876543210'::bytea)
         = compatcrypt_encode('some data', '\x012345008900cd00fe00ba0076003200'::bytea) AS cut_codes_as_shorter;
-- Using a cut key warns once per key and call site, not once per row, and
-- the result is the same as ever; an empty password warns as well.
SELECT count(DISTINCT compatcrypt_encode(convert_to(i::text, 'UTF8'), '\x00112233445566778899aabbccddeeff'::bytea))
         AS encoded_rows
  FROM generate_series(1, 5) AS i;
SELECT compatcrypt_decode(compatcrypt_encode('abc', k), k) AS round_trip
  FROM (VALUES ('\x0123450089abcdeffedcba9876543210'::bytea)) AS t(k);
SELECT compatcrypt_encode_password('abc', '') = compatcrypt_encode('abc', compatcrypt_key('')) AS empty_password;
SELECT compatcrypt_encode('abc', '\x0123456789abcdeffedcba9876543210'::bytea) IS NOT NULL AS whole_key_is_silent,
       compatcrypt_encode_password('abc', 'secret') IS NOT NULL AS password_is_silent;
-- A connection can make them errors, or silence them.
SET compatcrypt.weak_key = error;
SELECT compatcrypt_encode('abc', '\x00112233445566778899aabbccddeeff'::bytea);
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_decode_password('abc', '');
\echo :LAST_ERROR_SQLSTATE
SELECT compatcrypt_key(''::bytea);
\echo :LAST_ERROR_SQLSTATE
-- A column of keys: the rows before the cut key's are coded, then it is refused.
SELECT count(compatcrypt_decode('abc', k))
  FROM (VALUES (1, '\x0123456789abcdeffedcba9876543210'::bytea), (2, '\x0123450089abcdeffedcba9876543210')) AS t(n, k);
\echo :LAST_ERROR_SQLSTATE
SELECT length(compatcrypt_encode('abc', '\x0123456789abcdeffedcba9876543210'::bytea)) AS whole_key_works;
-- The setting holds for a key schedule kept from row to row: here it turns
-- to error at the third row, after one warning.
SET compatcrypt.weak_key = warning;
SELECT n, set_config('compatcrypt.weak_key', CASE WHEN n = 3 THEN 'error' ELSE 'warning' END, false) AS weak_key,
       length(compatcrypt_encode(convert_to(n::text, 'UTF8'), '\x0123450089abcdeffedcba9876543210'::bytea)) AS bytes
  FROM generate_series(1, 4) AS n;
\echo :LAST_ERROR_SQLSTATE
SET compatcrypt.weak_key = ignore;
SELECT length(compatcrypt_encode('abc', '\x00112233445566778899aabbccddeeff'::bytea)) AS ignored;
SET compatcrypt.weak_key = loud;
SHOW compatcrypt.weak_key;
RESET compatcrypt.weak_key;

-- Migration, in one transaction each: a column moved from the old key to a
-- new one, then out of this format to pgcrypto's OpenPGP encryption. In an
-- application the keys are parameters ($1, $2), never literals.
\set old_key '\\x0123456789abcdeffedcba9876543210'
\set new_key '\\x112233445566778899aabbccddeeff01'
CREATE TABLE orders (id int PRIMARY KEY, payload bytea);
INSERT INTO orders
  SELECT i, compatcrypt_encode(convert_to('order ' || i || ': ' || repeat('x', i), 'UTF8'), :'old_key')
    FROM generate_series(1, 5) AS i;
CREATE TABLE orders_plain AS SELECT id, compatcrypt_decode(payload, :'old_key') AS plain FROM orders;
BEGIN;
UPDATE orders SET payload = compatcrypt_encode(compatcrypt_decode(payload, :'old_key'), :'new_key');
SELECT id, length(payload) AS bytes, convert_from(compatcrypt_decode(payload, :'new_key'), 'UTF8') AS under_new_key,
       compatcrypt_decode(payload, :'new_key') = p.plain AS verified,
       compatcrypt_decode(payload, :'old_key') = p.plain AS old_key_still_reads
  FROM orders JOIN orders_plain AS p USING (id) ORDER BY id;
COMMIT;
BEGIN;
ALTER TABLE orders ADD COLUMN payload_pgp bytea;
UPDATE orders SET payload_pgp = pgp_sym_encrypt_bytea(compatcrypt_decode(payload, :'new_key'), 'a passphrase'),
                  payload = NULL;
SELECT id, payload IS NULL AS old_column_cleared,
       convert_from(pgp_sym_decrypt_bytea(payload_pgp, 'a passphrase'), 'UTF8') AS under_pgp,
       pgp_sym_decrypt_bytea(payload_pgp, 'a passphrase') = p.plain AS verified
  FROM orders JOIN orders_plain AS p USING (id) ORDER BY id;
COMMIT;
