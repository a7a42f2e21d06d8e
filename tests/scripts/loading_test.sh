#!/usr/bin/env bash
# Loads a CSV whose DDL text and object names hold Latin-1 bytes (quorvil
# copies them from the log as they are) into PostgreSQL and into pandas as the
# README's "Loading the CSV" shows.  Written back out as CSV, what each holds
# must be exactly the expected characters (é, è, à, É, û) and numbers (object
# numbers of 2^31 and more); read as UTF-8, each must refuse the file.  The
# PostgreSQL server is this script's own, run as the postgres user in a
# temporary folder on a unix socket there only, stopped however the script ends.
#
# usage: loading_test.sh BUILD_DIR LOG_WRITER
# Exits with 77 (skipped) without root, PostgreSQL or Debian's python3-pandas.
set -euo pipefail
skip() { echo "loading_test: SKIPPED: $*" >&2; exit 77; }
. "$(dirname "$0")/../support/loading_csv.sh"

[ "$(id -u)" = 0 ] || skip "needs root to run a PostgreSQL server as the postgres user"
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$pgbin" ] && [ -x "$pgbin/initdb" ] && [ -x "$pgbin/pg_ctl" ] && [ -x "$pgbin/psql" ] && id postgres >/dev/null 2>&1 ||
    skip "PostgreSQL or its postgres user is not there (apt-get install -y postgresql)"
command -v runuser >/dev/null || skip "runuser is not installed (apt-get install -y util-linux)"
"$python" -c 'import pandas' 2>/dev/null || skip "pandas is not installed for $python (apt-get install -y python3-pandas)"

# --- pandas -------------------------------------------------------------------
# The script also writes the expected lines after the header to want.csv in
# UTF-8, from Unicode escapes, so they do not depend on this file's bytes.
"$python" - "$csv" "$work/want.csv" <<'PY' || fail "pandas did not read the CSV as expected"
import sys
import pandas as pd

csv, want_path = sys.argv[1:]
wide = ('insert into ""UNKNOWN"".""OBJ# 73521"" (""COL 1"",""COL 2"") values (HEXTORAW(\''
        + bytes(i % 256 for i in range(40000)).hex() + "'),HEXTORAW('"
        + bytes(255 - i % 256 for i in range(30000)).hex() + "'));")
want = f'''3001,3,17,245,0,0,,START,set transaction read write;
3002,3,17,245,73520,0,Caf\u00e9,DDL,"create table ""Caf\u00e9"" (""Cr\u00e8me br\u00fbl\u00e9e"" varchar2(9) default 'd\u00e9j\u00e0')"
3003,3,17,245,73520,0,"\u00c9t\u00e9, 2024",DDL,"alter table ""Caf\u00e9"" rename to ""\u00c9t\u00e9, 2024"""
3004,65535,65535,-2147483648,2147483648,4294967295,OBJ# -2147483648,INSERT,"insert into ""UNKNOWN"".""OBJ# -2147483648"" (""COL 1"") values (HEXTORAW('c102'));"
3005,3,17,245,4294967295,2147483648,OBJ# 4294967295,INSERT,"insert into ""UNKNOWN"".""OBJ# -1"" (""COL 1"") values (HEXTORAW('c103'));"
3006,3,17,245,73521,73521,OBJ# 73521,INSERT,"{wide}"
3006,3,17,245,0,0,,COMMIT,commit;
'''
open(want_path, "w", encoding="utf-8").write(want)
dtype = {"SCN": "uint64", "XIDUSN": "int32", "XIDSLT": "int32", "XIDSQN": "int32", "DATA_OBJ#": "uint32",
         "DATA_OBJD#": "uint32", "TABLE_NAME": "string", "OPERATION": "category", "SQL_REDO": "string"}
bad = []
def check(what, got, expected):  # names where the text first differs
    if got != expected:
        i = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
        bad.append(f"{what}: from character {i}, got {got[i:i + 60]!r}, expected {expected[i:i + 60]!r}")
def read(**kw):
    return pd.read_csv(csv, dtype=dtype, keep_default_na=False, **kw)
def lines(frame):  # the frame written back as CSV, a missing value marked
    return frame.to_csv(header=False, index=False, lineterminator="\n", na_rep="<NA>")
check("the CSV read as Latin-1", open(csv, encoding="latin-1").read(), ",".join(dtype) + "\n" + want)
try:
    read()
    bad.append("read as UTF-8 without an error")
except UnicodeDecodeError:
    pass
# encoding='latin-1': every byte is the character of the same number.
redo = read(encoding="latin-1")
check("rows", lines(redo), want)
check("DATA_OBJ# type", str(redo["DATA_OBJ#"].dtype), "uint32")
# encoding_errors='surrogateescape': UTF-8 where it is UTF-8, each other byte
# a lone surrogate U+DC80 + byte, which encodes back to the same byte.
esc = read(encoding_errors="surrogateescape")
check("surrogateescape name", esc.TABLE_NAME[1], "Caf\udce9")
check("surrogateescape bytes", lines(esc).encode("utf-8", "surrogateescape"), want.encode("latin-1"))
# encoding_errors='replace': each byte that is not UTF-8 becomes U+FFFD.
check("replace name", read(encoding_errors="replace").TABLE_NAME[2], "\ufffdt\ufffd, 2024")
sys.exit("\n".join("pandas: " + b for b in bad) or None)
PY

# --- PostgreSQL ---------------------------------------------------------------
pg="$work/pg"
trap 'runuser -u postgres -- "$pgbin/pg_ctl" -D "$pg/data" -m immediate -w stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
chmod 755 "$work"
mkdir "$pg" && chown postgres: "$pg"
runuser -u postgres -- "$pgbin/initdb" -D "$pg/data" -E UTF8 --locale=C -A trust -U postgres \
    >"$work/initdb.out" 2>&1 || { cat "$work/initdb.out" >&2; fail "initdb failed"; }
runuser -u postgres -- "$pgbin/pg_ctl" -D "$pg/data" -l "$pg/server.log" -w -o "-c listen_addresses='' -k $pg" start \
    >"$work/pg_ctl.out" 2>&1 || { cat "$work/pg_ctl.out" "$pg/server.log" >&2; fail "the PostgreSQL server did not start"; }
psql() { "$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h "$pg" -U postgres -d postgres "$@"; }
[ "$(psql -At -c 'SHOW server_encoding')" = UTF8 ] || fail "the database is not UTF-8"

# The table and the two ways of naming the file's encoding, as in the README.
psql >"$work/copy.out" 2>&1 <<SQL || { cat "$work/copy.out" >&2; fail "loading into PostgreSQL failed"; }
CREATE TABLE redo (scn numeric(20) NOT NULL, xidusn integer NOT NULL, xidslt integer NOT NULL,
    xidsqn integer NOT NULL, data_obj bigint NOT NULL, data_objd bigint NOT NULL, table_name text,
    operation text NOT NULL, sql_redo text);
CREATE TABLE redo_enc (LIKE redo);
SET client_encoding TO 'LATIN1';
\copy redo from '$csv' csv header
RESET client_encoding;
\encoding LATIN1
\copy redo_enc from '$csv' csv header
SQL
# Without a client encoding the bytes are taken as UTF-8 and refused.
! psql -c "CREATE TABLE redo_utf8 (LIKE redo)" -c "\\copy redo_utf8 from '$csv' csv header" >"$work/utf8.out" 2>&1 ||
    fail "PostgreSQL loaded the Latin-1 bytes as UTF-8 without an error"
grep -q 'invalid byte sequence for encoding "UTF8": 0xe9' "$work/utf8.out" ||
    { cat "$work/utf8.out" >&2; fail "PostgreSQL refused the file as UTF-8 with an unexpected message"; }
# Each table written back as CSV in UTF-8 (a NULL as an empty field, an
# empty text as "") must be the expected lines.
for table in redo redo_enc; do
    psql -c "\\copy $table to '$work/$table.csv' csv" || fail "writing out PostgreSQL table $table failed"
    cmp "$work/$table.csv" "$work/want.csv" >&2 || fail "PostgreSQL table $table does not hold the expected lines"
done

echo "loading_test: ok (PostgreSQL $("$pgbin/postgres" --version | awk '{ print $3 }'), pandas $("$python" -c 'import pandas; print(pandas.__version__)'))"
