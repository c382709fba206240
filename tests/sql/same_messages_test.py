"""Both databases say the same words: every message of the SQLite suite's
expected output that PostgreSQL can give too appears, word for word, in the
PostgreSQL suite's expected output (each suite checks its own output against
a real database). Messages only one host has are named below with the
reason."""
import re
import sys

here = sys.argv[1]
pg = open(f"{here}/postgresql/compatcrypt.out").read()
sqlite = open(f"{here}/sqlite/compatcrypt.out").read()
pg_messages = set(re.findall(r"(?:ERROR|WARNING):  (compatcrypt_\w+: .*)", pg))
sqlite_messages = set(re.findall(r"Runtime error near line \d+: (compatcrypt_\w+: .*)", sqlite))

SQLITE_ONLY = [
    (r"must be a blob or text$|offset must be an integer$", "PostgreSQL's types are checked before the call"),
    (r"password contains a zero byte$", "a PostgreSQL text value cannot hold a zero byte"),
    (r"defensive mode$", "SQLite's defensive mode"),
    (r"^compatcrypt_weak_key:", "PostgreSQL has the setting compatcrypt.weak_key instead"),
]
failures = []
checked = 0
for message in sorted(sqlite_messages):
    if any(re.search(pattern, message) for pattern, _ in SQLITE_ONLY):
        continue
    checked += 1
    if message not in pg_messages:
        failures.append(message)
for message in failures:
    print(f"FAIL: SQLite says, PostgreSQL does not: {message}")
if checked < 10:
    failures.append("too few shared messages")
    print(f"FAIL: only {checked} shared messages")
if failures:
    sys.exit(1)
print(f"PASS: {checked} messages the same in both databases")
