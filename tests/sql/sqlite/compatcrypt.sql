-- The compatcrypt SQLite extension in the sqlite3 shell. @cases@ is the
-- known-answer table written by sql_oracle from libcompatcrypt, @work@ a
-- directory holding the file xxabc.bin.
.headers on
.mode list
.nullvalue (null)
CREATE TABLE cases (id INTEGER PRIMARY KEY, data BLOB, key BLOB, password TEXT, digest BLOB, encoded BLOB,
                    decoded BLOB, password_key BLOB, password_encoded BLOB, password_decoded BLOB);
.read @cases@
-- Known answers: each function equals the C function it calls.
SELECT count(*) AS cases,
       sum(compatcrypt_digest(data) IS NOT digest) AS digest_wrong,
       sum(compatcrypt_encode(data, key) IS NOT encoded) AS encode_wrong,
       sum(compatcrypt_decode(data, key) IS NOT decoded) AS decode_wrong,
       sum(compatcrypt_decode(encoded, key) IS NOT data) AS round_trip_wrong,
       sum(compatcrypt_key(CAST(password AS BLOB)) IS NOT password_key) AS key_wrong,
       sum(compatcrypt_key(password) IS NOT password_key) AS key_from_text_wrong,
       sum(compatcrypt_encode_password(data, password) IS NOT password_encoded) AS encode_password_wrong,
       sum(compatcrypt_decode_password(data, password) IS NOT password_decoded) AS decode_password_wrong
  FROM cases;
SELECT compatcrypt_key(X'610062') <> compatcrypt_key(X'61') AS zero_byte_counts;
-- NULL in, NULL out.
SELECT compatcrypt_digest(NULL) AS digest, compatcrypt_key(NULL) AS key, compatcrypt_encode(NULL, X'00') AS encode,
       compatcrypt_decode(X'00', NULL) AS decode, compatcrypt_encode_password(NULL, 'pw') AS encode_password,
       compatcrypt_decode_password(X'00', NULL) AS decode_password, compatcrypt_file_digest(NULL, 0) AS file_digest;
-- Bad input: an error naming the argument, never the key or password.
SELECT compatcrypt_encode(X'0102', X'73656372657473');
SELECT compatcrypt_decode(X'0102', randomblob(24));
SELECT compatcrypt_decode(X'0102', 1234567890123456);
SELECT compatcrypt_digest(3.5);
SELECT compatcrypt_encode_password(X'01', 'ab' || char(0) || 'cd');
SELECT compatcrypt_decode_password(X'01', X'7365637200726574');
SELECT compatcrypt_file_digest('@work@/xxabc.bin', -1);
SELECT compatcrypt_file_digest('@work@/xxabc.bin', 2147483648);
SELECT compatcrypt_file_digest('@work@/xxabc.bin', '2');
SELECT compatcrypt_file_digest('@work@/no such file', 0);
SELECT compatcrypt_file_digest('@work@', 0);
-- A FIFO without a writer: refused at once, never waited on.
SELECT compatcrypt_file_digest('@work@/fifo', 0);
-- The file digest, called directly.
SELECT compatcrypt_file_digest('@work@/xxabc.bin', 2) = compatcrypt_digest('abc') AS from_offset,
       compatcrypt_file_digest('@work@/xxabc.bin', 99) = compatcrypt_digest('') AS past_end;
-- Never from the schema (views, triggers), trusted or not.
CREATE VIEW file_view AS SELECT compatcrypt_file_digest('@work@/xxabc.bin', 0) AS d;
SELECT * FROM file_view;
-- The pure functions are deterministic: allowed in an index expression.
CREATE TABLE blobs (b BLOB);
INSERT INTO blobs VALUES (X'616263'), (X'78');
CREATE INDEX blobs_digest ON blobs (compatcrypt_digest(b));
SELECT count(*) AS found_by_digest FROM blobs WHERE compatcrypt_digest(b) = compatcrypt_digest('abc');
-- The aggregate: the digest of the chunks in the order of an ordered
-- subquery; NULL chunks skipped; no chunk at all gives NULL.
CREATE TABLE chunks (object INTEGER, n INTEGER, chunk BLOB);
WITH RECURSIVE o(object) AS (SELECT 1 UNION ALL SELECT object + 1 FROM o WHERE object < 200),
     c(object, n) AS (SELECT object, 1 FROM o UNION ALL SELECT object, n + 1 FROM c WHERE n < 1 + object % 11)
INSERT INTO chunks
  SELECT object, n, CASE WHEN (object * 7 + n) % 23 = 0 THEN NULL
                         ELSE substr(randomblob(400), 1, (object * 31 + n * 17) % 301) END
    FROM c;
SELECT count(*) AS objects, sum(agg IS NOT whole) AS aggregate_wrong, sum(agg IS NULL) AS null_results,
       max(bytes) AS longest
  FROM (SELECT object,
               (SELECT compatcrypt_digest_agg(chunk) FROM (SELECT chunk FROM chunks AS k
                                                             WHERE k.object = o.object ORDER BY n)) AS agg,
               (SELECT compatcrypt_digest(group_concat(chunk, X'')) FROM (SELECT chunk FROM chunks AS k
                                                             WHERE k.object = o.object ORDER BY n)) AS whole,
               (SELECT sum(length(chunk)) FROM chunks AS k WHERE k.object = o.object) AS bytes
          FROM (SELECT DISTINCT object FROM chunks) AS o);
SELECT compatcrypt_digest_agg(chunk) IS NULL AS no_rows_null FROM chunks WHERE 0;
-- The key rule: each DES key (the even-numbered bytes, the odd-numbered
-- ones) ends at its first zero byte.
WITH k(key) AS (VALUES (X'0123456789abcdeffedcba9876543210'), (X'00000000000000000000000000000000'),
                      (X'00112233445566778899aabbccddeeff'), (X'0123450089abcdeffedcba9876543210'),
                      (X'0123456789abcdeffedcba98765432ff'), (X'01230067890bcdeffedcba9800543210'),
                      (X'0123456789abcdeffedcba9876543200'))
SELECT hex(key) AS key, compatcrypt_key_bytes_in_effect(key) AS bytes_in_effect FROM k;
SELECT compatcrypt_key_bytes_in_effect(X'0102');
SELECT compatcrypt_key_bytes_in_effect(NULL) AS null_key;
SELECT compatcrypt_encode('some data', X'0123450089abcdeffedcba9876543210')
         = compatcrypt_encode('some data', X'012345008900cd00fe00ba0076003200') AS cut_codes_as_shorter;
-- A cut key or an empty password: a warning to SQLite's log by default (the
-- shell has no log callback), an error where the connection asks for one.
SELECT compatcrypt_weak_key() AS weak_key,
       length(compatcrypt_encode('abc', X'00112233445566778899aabbccddeeff')) AS cut_key_works,
       compatcrypt_encode_password('abc', '') = compatcrypt_encode('abc', compatcrypt_key('')) AS empty_password_works;
SELECT compatcrypt_weak_key('error') AS weak_key;
SELECT compatcrypt_encode('abc', X'00112233445566778899aabbccddeeff');
SELECT compatcrypt_decode_password('abc', '');
SELECT compatcrypt_key('');
SELECT length(compatcrypt_encode('abc', X'0123456789abcdeffedcba9876543210')) AS whole_key_works;
SELECT compatcrypt_weak_key('ignore') AS weak_key,
       length(compatcrypt_encode('abc', X'00112233445566778899aabbccddeeff')) AS ignored;
SELECT compatcrypt_weak_key('loud');
SELECT compatcrypt_weak_key('warning') AS weak_key;
-- Migration in one transaction: from the old key to a new one, verified.
CREATE TABLE orders (id INTEGER PRIMARY KEY, payload BLOB);
INSERT INTO orders SELECT value, compatcrypt_encode(CAST('order ' || value || ': ' || substr('xxxxx', 1, value) AS BLOB),
                                                     X'0123456789abcdeffedcba9876543210')
  FROM (SELECT 1 AS value UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4 UNION ALL SELECT 5);
CREATE TABLE orders_plain AS SELECT id, compatcrypt_decode(payload, X'0123456789abcdeffedcba9876543210') AS plain FROM orders;
BEGIN;
UPDATE orders SET payload = compatcrypt_encode(compatcrypt_decode(payload, X'0123456789abcdeffedcba9876543210'),
                                               X'00112233445566778899aabbccddeeff');
SELECT id, length(payload) AS bytes,
       CAST(compatcrypt_decode(payload, X'00112233445566778899aabbccddeeff') AS TEXT) AS under_new_key,
       compatcrypt_decode(payload, X'00112233445566778899aabbccddeeff') = p.plain AS verified,
       compatcrypt_decode(payload, X'0123456789abcdeffedcba9876543210') = p.plain AS old_key_still_reads
  FROM orders JOIN orders_plain AS p USING (id) ORDER BY id;
COMMIT;
-- An application that turns on defensive mode gets no file access.
.dbconfig defensive on
SELECT compatcrypt_file_digest('@work@/xxabc.bin', 0);
