#!/usr/bin/env bash
# Python's csv module refuses a field longer than its limit, 131072 characters
# unless raised, so the README tells Python readers to raise it first.  On the
# loading log's insert of 140,000 hex digits the module must fail as it comes,
# and read every record, that statement whole, after
# csv.field_size_limit(sys.maxsize).
#
# usage: field_limit_test.sh BUILD_DIR LOG_WRITER
set -euo pipefail
. "$(dirname "$0")/../support/loading_csv.sh"
[ -x "$python" ] || fail "$python is not installed (apt-get install -y python3)"

"$python" - "$csv" <<'PY' || fail "the csv module did not behave as the README says"
import csv, sys

want = ('insert into "UNKNOWN"."OBJ# 73521" ("COL 1","COL 2") values (HEXTORAW(\''
        + bytes(i % 256 for i in range(40000)).hex() + "'),HEXTORAW('"
        + bytes(255 - i % 256 for i in range(30000)).hex() + "'));")
if csv.field_size_limit() != 131072 or len(want) <= 131072:
    sys.exit(f"the default field limit is {csv.field_size_limit()}, the statement {len(want)} characters")

read_all = lambda: list(csv.reader(open(sys.argv[1], newline="", encoding="latin-1")))  # the DDL text is Latin-1
try:
    sys.exit(f"read {len(read_all())} records with the default field limit")
except csv.Error as e:
    if "field larger than field limit (131072)" not in str(e):
        sys.exit(f"unexpected csv error: {e}")
csv.field_size_limit(sys.maxsize)
rows = read_all()
if len(rows) != 8 or any(len(r) != 9 for r in rows):
    sys.exit(f"{len(rows)} records of {sorted(set(map(len, rows)))} fields, expected 8 of 9")
wide = [r[8] for r in rows if r[0] == "3006" and r[7] == "INSERT"]
if wide != [want]:
    sys.exit(f"the long statement came back as {[len(w) for w in wide]} characters, not {len(want)}")
PY
echo "field_limit_test: ok"
