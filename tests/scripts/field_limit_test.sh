#!/usr/bin/env bash
# Python's csv module refuses a field longer than its limit, 131072
# characters unless raised.  A row statement is longer than that as soon as
# its values hold 64 KiB or so, so the README tells Python readers to raise
# the limit first.  This mines a log holding an insert of two columns of
# 40000 and 30000 bytes (140,000 hex digits) and checks that the csv module
# fails on it as it comes, and reads every record, that statement whole,
# after csv.field_size_limit(sys.maxsize).
#
# usage: field_limit_test.sh BUILD_DIR LOG_WRITER
set -euo pipefail

fail() {
    echo "field_limit_test: FAIL: $*" >&2
    exit 1
}

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR LOG_WRITER" >&2; exit 2; }
build=$(cd "$1" && pwd)
writer=$2
quorvil="$build/quorvil"
python=/usr/bin/python3

[ -x "$quorvil" ] || fail "$quorvil is not built"
[ -x "$writer" ] || fail "$writer is not built"
[ -x "$python" ] || fail "$python is not installed (apt-get install -y python3)"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-field-limit.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$writer" "$work/loading.log" || fail "$writer could not write the log"
csv="$work/redo.csv"
status=0
"$quorvil" -log "$work/loading.log" -out "$csv" 2>"$work/quorvil.err" || status=$?
[ "$status" -eq 0 ] || { cat "$work/quorvil.err" >&2; fail "quorvil exited with $status"; }

"$python" - "$csv" <<'EOF' || fail "the csv module did not behave as the README says"
import csv
import sys

path = sys.argv[1]
want = ('insert into "UNKNOWN"."OBJ# 73521" ("COL 1","COL 2") values (HEXTORAW(\''
        + bytes(i % 256 for i in range(40000)).hex() + "'),HEXTORAW('"
        + bytes(255 - i % 256 for i in range(30000)).hex() + "'));")
assert len(want) > 131072


def read_all():
    # the DDL text in this file is Latin-1
    with open(path, newline="", encoding="latin-1") as f:
        return list(csv.reader(f))


if csv.field_size_limit() != 131072:
    sys.exit(f"the default field limit is {csv.field_size_limit()}, not 131072")
try:
    read_all()
    sys.exit("read the whole file with the default field limit")
except csv.Error as e:
    if "field larger than field limit (131072)" not in str(e):
        sys.exit(f"unexpected csv error: {e}")

csv.field_size_limit(sys.maxsize)
rows = read_all()
if len(rows) != 8 or any(len(r) != 9 for r in rows):
    sys.exit(f"{len(rows)} records of {sorted(set(map(len, rows)))} fields, expected 8 of 9")
wide = [r[8] for r in rows if r[0] == "3006" and r[7] == "INSERT"]
if wide != [want]:
    sys.exit(f"the long statement did not come back whole ({[len(w) for w in wide]} characters)")
print(f"field_limit_test: ok (a {len(want)}-character field)")
EOF
