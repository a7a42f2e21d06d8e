#!/usr/bin/env bash
# Loads a CSV whose DDL text and object names hold Latin-1 bytes (quorvil
# copies them from the log as they are) into PostgreSQL and into pandas, the
# way the README's "Loading the CSV" section shows, and checks that both end
# up with the same characters (é, è, à, É, û) and the same numbers, object
# numbers of 2^31 and more included.  It also checks that the file really is
# not UTF-8: read as UTF-8, both refuse it.
#
# PostgreSQL is a server of this script's own: initdb and pg_ctl run as the
# postgres user in a temporary folder, listening only on a unix socket there,
# stopped and removed when the script ends, whatever way it ends.
#
# usage: loading_test.sh BUILD_DIR LOG_WRITER
# Exits with 77 (skipped) when not run as root or when PostgreSQL or Debian's
# python3-pandas is missing.
set -euo pipefail

fail() {
    echo "loading_test: FAIL: $*" >&2
    exit 1
}
skip() {
    echo "loading_test: SKIPPED: $*" >&2
    exit 77
}

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR LOG_WRITER" >&2; exit 2; }
build=$(cd "$1" && pwd)
writer=$2
quorvil="$build/quorvil"
python=/usr/bin/python3   # Debian's, which python3-pandas belongs to

[ -x "$quorvil" ] || fail "$quorvil is not built"
[ -x "$writer" ] || fail "$writer is not built"

[ "$(id -u)" = 0 ] || skip "needs root to run a PostgreSQL server as the postgres user"
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$pgbin" ] && [ -x "$pgbin/initdb" ] && [ -x "$pgbin/pg_ctl" ] && [ -x "$pgbin/psql" ] ||
    skip "PostgreSQL is not installed (apt-get install -y postgresql)"
id postgres >/dev/null 2>&1 || skip "there is no postgres user (apt-get install -y postgresql)"
command -v runuser >/dev/null || skip "runuser is not installed (apt-get install -y util-linux)"
[ -x "$python" ] && "$python" -c 'import pandas' 2>/dev/null ||
    skip "pandas is not installed for $python (apt-get install -y python3-pandas)"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-loading.XXXXXX")
chmod 755 "$work"
pg="$work/pg"
stop_server() {
    if [ -f "$pg/data/postmaster.pid" ]; then
        runuser -u postgres -- "$pgbin/pg_ctl" -D "$pg/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap stop_server EXIT
trap 'exit 1' INT TERM HUP

"$writer" "$work/loading.log" || fail "$writer could not write the log"
csv="$work/redo.csv"
status=0
"$quorvil" -log "$work/loading.log" -out "$csv" 2>"$work/quorvil.err" || status=$?
[ "$status" -eq 0 ] || { cat "$work/quorvil.err" >&2; fail "quorvil exited with $status"; }
grep -q $'\xe9' "$csv" || fail "the CSV holds no byte e9"

# --- PostgreSQL ---------------------------------------------------------------
mkdir "$pg"
chown postgres: "$pg"
runuser -u postgres -- "$pgbin/initdb" -D "$pg/data" -E UTF8 --locale=C -A trust -U postgres \
    >"$work/initdb.out" 2>&1 || { cat "$work/initdb.out" >&2; fail "initdb failed"; }
runuser -u postgres -- "$pgbin/pg_ctl" -D "$pg/data" -l "$pg/server.log" -w \
    -o "-c listen_addresses='' -k $pg" start >"$work/pg_ctl.out" 2>&1 ||
    { cat "$work/pg_ctl.out" "$pg/server.log" >&2; fail "the PostgreSQL server did not start"; }

psql() {
    "$pgbin/psql" -X -q -v ON_ERROR_STOP=1 -h "$pg" -U postgres -d postgres "$@"
}

[ "$(psql -At -c 'SHOW server_encoding')" = UTF8 ] || fail "the database is not UTF-8"

# The table and the two ways of naming the file's encoding, as in the README.
psql >"$work/copy.out" 2>&1 <<EOF || { cat "$work/copy.out" >&2; fail "loading into PostgreSQL failed"; }
CREATE TABLE redo (
    scn        numeric(20) NOT NULL,
    xidusn     integer     NOT NULL,
    xidslt     integer     NOT NULL,
    xidsqn     integer     NOT NULL,
    data_obj   bigint      NOT NULL,
    data_objd  bigint      NOT NULL,
    table_name text,
    operation  text        NOT NULL,
    sql_redo   text
);
CREATE TABLE redo_enc (LIKE redo);
SET client_encoding TO 'LATIN1';
\copy redo from '$csv' csv header
RESET client_encoding;
\encoding LATIN1
\copy redo_enc from '$csv' csv header
EOF

# Without a client encoding the bytes are taken as UTF-8 and refused.
if psql -c "CREATE TABLE redo_utf8 (LIKE redo)" -c "\\copy redo_utf8 from '$csv' csv header" \
    >"$work/utf8.out" 2>&1; then
    fail "PostgreSQL loaded the Latin-1 bytes as UTF-8 without an error"
fi
grep -q 'invalid byte sequence for encoding "UTF8": 0xe9' "$work/utf8.out" ||
    { cat "$work/utf8.out" >&2; fail "PostgreSQL refused the file as UTF-8 with an unexpected message"; }

# Each check names itself when it does not hold; the expected texts are
# written with Unicode escapes, so they do not depend on this file's bytes.
for table in redo redo_enc; do
    failed=$(psql -At <<EOF
SELECT name FROM (VALUES
  ('row count', (SELECT count(*) FROM $table) = 7),
  ('create name', (SELECT table_name FROM $table WHERE scn = 3002) = U&'Caf\00e9'),
  ('create text', (SELECT sql_redo FROM $table WHERE scn = 3002) =
      U&'create table "Caf\00e9" ("Cr\00e8me br\00fbl\00e9e" varchar2(9) default ''d\00e9j\00e0'')'),
  ('rename name', (SELECT table_name FROM $table WHERE scn = 3003) = U&'\00c9t\00e9, 2024'),
  ('rename text', (SELECT sql_redo FROM $table WHERE scn = 3003) =
      U&'alter table "Caf\00e9" rename to "\00c9t\00e9, 2024"'),
  ('characters, not bytes', (SELECT length(table_name) FROM $table WHERE scn = 3002) = 4),
  ('single-row 2^31', (SELECT (xidsqn, data_obj, data_objd, table_name) FROM $table WHERE scn = 3004) =
      (-2147483648, 2147483648::bigint, 4294967295::bigint, 'OBJ# -2147483648'::text)),
  ('multi-row 2^32-1', (SELECT (data_obj, data_objd, table_name) FROM $table WHERE scn = 3005) =
      (4294967295::bigint, 2147483648::bigint, 'OBJ# 4294967295'::text)),
  ('wide statement', (SELECT length(sql_redo) FROM $table WHERE scn = 3006 AND operation = 'INSERT') =
      length('insert into "UNKNOWN"."OBJ# 73521" ("COL 1","COL 2") values (HEXTORAW(''''),HEXTORAW(''''));') + 140000),
  ('transaction lines have no name', (SELECT count(*) FROM $table WHERE table_name IS NULL) = 2)
) AS c(name, ok) WHERE ok IS NOT TRUE;
EOF
)
    [ -z "$failed" ] || fail "PostgreSQL table $table: wrong $(echo "$failed" | paste -sd, -)"
done

# --- pandas -------------------------------------------------------------------
"$python" - "$csv" <<'EOF' || fail "pandas did not read the CSV as expected"
import sys

import pandas as pd

csv = sys.argv[1]
dtype = {
    "SCN": "uint64",
    "XIDUSN": "int32",
    "XIDSLT": "int32",
    "XIDSQN": "int32",
    "DATA_OBJ#": "uint32",
    "DATA_OBJD#": "uint32",
    "TABLE_NAME": "string",
    "OPERATION": "category",
    "SQL_REDO": "string",
}
create = 'create table "Caf\u00e9" ("Cr\u00e8me br\u00fbl\u00e9e" varchar2(9) default \'d\u00e9j\u00e0\')'
rename = 'alter table "Caf\u00e9" rename to "\u00c9t\u00e9, 2024"'
bad = []


def check(what, got, want):
    if got != want:
        bad.append(f"{what}: got {got!r}, expected {want!r}")


def row(frame, scn, op):
    rows = frame[(frame.SCN == scn) & (frame.OPERATION == op)]
    check(f"lines of SCN {scn} {op}", len(rows), 1)
    return rows.iloc[0]


try:
    pd.read_csv(csv, dtype=dtype, keep_default_na=False)
    bad.append("read as UTF-8 without an error")
except UnicodeDecodeError:
    pass

# encoding='latin-1': every byte is the character of the same number.
redo = pd.read_csv(csv, dtype=dtype, keep_default_na=False, encoding="latin-1")
check("rows", len(redo), 7)
check("create name", row(redo, 3002, "DDL").TABLE_NAME, "Caf\u00e9")
check("create text", row(redo, 3002, "DDL").SQL_REDO, create)
check("rename name", row(redo, 3003, "DDL").TABLE_NAME, "\u00c9t\u00e9, 2024")
check("rename text", row(redo, 3003, "DDL").SQL_REDO, rename)
r = row(redo, 3004, "INSERT")
check("single-row 2^31", (r.XIDSQN, r["DATA_OBJ#"], r["DATA_OBJD#"], r.TABLE_NAME),
      (-2147483648, 2147483648, 4294967295, "OBJ# -2147483648"))
r = row(redo, 3005, "INSERT")
check("multi-row 2^32-1", (r["DATA_OBJ#"], r["DATA_OBJD#"], r.TABLE_NAME), (4294967295, 2147483648, "OBJ# 4294967295"))
check("DATA_OBJ# type", str(redo["DATA_OBJ#"].dtype), "uint32")
wide = row(redo, 3006, "INSERT").SQL_REDO
check("wide statement", wide,
      'insert into "UNKNOWN"."OBJ# 73521" ("COL 1","COL 2") values (HEXTORAW(\''
      + bytes(i % 256 for i in range(40000)).hex() + "'),HEXTORAW('"
      + bytes(255 - i % 256 for i in range(30000)).hex() + "'));")
check("empty TABLE_NAME of transaction lines", list(redo[redo.OPERATION.isin(["START", "COMMIT"])].TABLE_NAME), ["", ""])

# encoding_errors='surrogateescape': UTF-8 where it is UTF-8, each other byte
# a lone surrogate U+DC80 + byte, which encodes back to the same byte.
esc = pd.read_csv(csv, dtype=dtype, keep_default_na=False, encoding_errors="surrogateescape")
name = row(esc, 3002, "DDL").TABLE_NAME
check("surrogateescape name", name, "Caf\udce9")
check("surrogateescape bytes", name.encode("utf-8", "surrogateescape"), b"Caf\xe9")
check("surrogateescape text bytes", row(esc, 3002, "DDL").SQL_REDO.encode("utf-8", "surrogateescape"),
      create.encode("latin-1"))

# encoding_errors='replace': each byte that is not UTF-8 becomes U+FFFD.
rep = pd.read_csv(csv, dtype=dtype, keep_default_na=False, encoding_errors="replace")
check("replace name", row(rep, 3003, "DDL").TABLE_NAME, "\ufffdt\ufffd, 2024")

for b in bad:
    print("pandas:", b, file=sys.stderr)
sys.exit(1 if bad else 0)
EOF

echo "loading_test: ok (PostgreSQL $("$pgbin/postgres" --version | awk '{ print $3 }'), pandas $("$python" -c 'import pandas; print(pandas.__version__)'))"
