#!/usr/bin/env bash
# Loads the CSV of the sample log into SQLite with .import --csv and checks
# that SQLite reads back exactly what a separate CSV reader (python3's csv
# module) finds in the file: the rows, the nine columns, the operations and
# the SQL_REDO text with its doubled quotes undone.  Then loads two CSVs into
# one table with the README's loop and checks it holds the rows of both, and
# checks that DDL names in Latin-1 are kept as their bytes.
#
# usage: sqlite_test.sh BUILD_DIR SOURCE_DIR LOG_WRITER
set -euo pipefail

fail() {
    echo "sqlite_test: FAIL: $*" >&2
    exit 1
}

command -v sqlite3 >/dev/null ||
    fail "sqlite3 is not installed; install the Debian package sqlite3 (apt-get install -y sqlite3)"
command -v python3 >/dev/null || fail "python3 is not installed"

[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR SOURCE_DIR LOG_WRITER" >&2; exit 2; }
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
writer=$3
quorvil="$build/quorvil"
log="$source_dir/samples/sample.log"
header='SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO'
operations="START COMMIT ROLLBACK INSERT DELETE UPDATE DDL"

[ -x "$quorvil" ] || fail "$quorvil is not built"
[ -f "$log" ] || fail "sample log $log is missing"
[ -x "$writer" ] || fail "$writer is not built"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-sqlite.XXXXXX")
trap 'rm -rf "$work"' EXIT
csv="$work/sample.csv"
db="$work/redo.db"

set +e
"$quorvil" -log "$log" -out "$csv" 2>"$work/quorvil.err"
status=$?
set -e
[ "$status" -eq 0 ] || { cat "$work/quorvil.err" >&2; fail "quorvil on $log exited with $status"; }
[ "$(head -n 1 "$csv")" = "$header" ] || fail "first line of the CSV is not the header line"

sq() {
    sqlite3 -batch -bail "$db" "$@"
}

sq ".import --csv \"$csv\" redo" 2>"$work/import.err" ||
    { cat "$work/import.err" >&2; fail "sqlite3 .import --csv failed"; }
[ ! -s "$work/import.err" ] || { cat "$work/import.err" >&2; fail "sqlite3 .import --csv complained"; }

# The table took its column names from the header line: nine, in order.
columns=$(sq "SELECT group_concat(name, ',') FROM (SELECT name FROM pragma_table_info('redo') ORDER BY cid);")
[ "$columns" = "$header" ] || fail "SQLite table columns are '$columns', expected '$header'"

# What python3's csv module reads from the file, independently of SQLite:
# record count, physical line count adjusted for line feeds inside fields,
# records whose field count is not 9, and the count per OPERATION (field 8).
python3 - "$csv" >"$work/expected" <<'EOF'
import csv, sys
with open(sys.argv[1], newline='') as f:
    rows = list(csv.reader(f))
body = rows[1:]
print('records', len(body))
print('embedded_newlines', sum(field.count('\n') for row in body for field in row))
print('not_nine', sum(1 for row in body if len(row) != 9))
counts = {}
for row in body:
    if len(row) >= 8:
        counts[row[7]] = counts.get(row[7], 0) + 1
for op in sorted(counts):
    print('op', op, counts[op])
EOF
expect() {
    awk -v k="$1" '$1 == k { print $2 }' "$work/expected"
}
records=$(expect records)
[ "$(expect not_nine)" -eq 0 ] || fail "$(expect not_nine) CSV records do not have 9 fields"

lines=$(wc -l <"$csv")
[ "$((lines - 1))" -eq "$((records + $(expect embedded_newlines)))" ] ||
    fail "CSV has $lines lines but $records records after the header and $(expect embedded_newlines) line feeds inside fields"

rows=$(sq "SELECT count(*) FROM redo;")
[ "$rows" -eq "$records" ] || fail "SQLite holds $rows rows, the CSV $records records"
[ "$rows" -gt 0 ] || fail "the sample log gave no line after the header"
if [ "$(expect embedded_newlines)" -eq 0 ]; then
    [ "$rows" -eq "$((lines - 1))" ] || fail "SQLite holds $rows rows, the CSV $((lines - 1)) lines after the header"
fi

# Every row is whole: no column came in empty where a value must be.
short=$(sq "SELECT count(*) FROM redo WHERE SCN = '' OR XIDUSN = '' OR XIDSLT = '' OR XIDSQN = ''
                OR \"DATA_OBJ#\" = '' OR \"DATA_OBJD#\" = '' OR OPERATION = '' OR SQL_REDO = '';")
[ "$short" -eq 0 ] || fail "$short rows have an empty column that must hold a value"

# Counts per operation: SQLite against the csv module and against grep -c on
# field 8.  No line may carry an operation outside the seven.
others=$(sq "SELECT count(*) FROM redo WHERE OPERATION NOT IN ('START','COMMIT','ROLLBACK','INSERT','DELETE','UPDATE','DDL');")
[ "$others" -eq 0 ] || fail "$others rows carry an unknown OPERATION"
[ -z "$(awk '$1 == "op" { print $2 }' "$work/expected" | grep -vxE 'START|COMMIT|ROLLBACK|INSERT|DELETE|UPDATE|DDL' || true)" ] ||
    fail "the CSV holds an unknown OPERATION"
for op in $operations; do
    in_sqlite=$(sq "SELECT count(*) FROM redo WHERE OPERATION = '$op';")
    in_csv=$(awk -v o="$op" '$1 == "op" && $2 == o { print $3 }' "$work/expected")
    in_csv=${in_csv:-0}
    # field 8 is the word after seven fields, each either plain or quoted
    # with doubled inner quotes (a DDL object name may hold a comma)
    by_grep=$(grep -cE "^(([^,\"]*|\"([^\"]|\"\")*\"),){7}$op," "$csv" || true)
    [ "$in_sqlite" -eq "$in_csv" ] || fail "$op: SQLite counts $in_sqlite rows, the csv module $in_csv"
    [ "$in_sqlite" -eq "$by_grep" ] || fail "$op: SQLite counts $in_sqlite rows, grep -c $by_grep lines"
    [ "$in_sqlite" -gt 0 ] || fail "the sample log gave no $op line; it should hold every kind"
done

# Transaction lines carry their fixed statements and no object.
bad=$(sq "SELECT count(*) FROM redo WHERE
            (OPERATION = 'START' AND SQL_REDO <> 'set transaction read write;') OR
            (OPERATION = 'COMMIT' AND SQL_REDO <> 'commit;') OR
            (OPERATION = 'ROLLBACK' AND SQL_REDO <> 'rollback;') OR
            (OPERATION IN ('START','COMMIT','ROLLBACK') AND
             (\"DATA_OBJ#\" <> '0' OR \"DATA_OBJD#\" <> '0' OR TABLE_NAME <> ''));")
[ "$bad" -eq 0 ] || fail "$bad transaction rows have the wrong statement or an object"

# Row statements read back with plain double-quoted names once CSV quoting is
# undone, and name the table of their DATA_OBJ# column.
bad=$(sq "SELECT count(*) FROM redo WHERE OPERATION IN ('INSERT','DELETE','UPDATE') AND (
            instr(SQL_REDO, '\"\"') > 0 OR
            SQL_REDO NOT LIKE CASE OPERATION WHEN 'INSERT' THEN 'insert into '
                                             WHEN 'DELETE' THEN 'delete from '
                                             ELSE 'update ' END || '\"UNKNOWN\".\"OBJ# %' OR
            substr(SQL_REDO, -1) <> ';' OR
            (CAST(\"DATA_OBJ#\" AS INTEGER) < 2147483648 AND TABLE_NAME <> 'OBJ# ' || \"DATA_OBJ#\"));")
[ "$bad" -eq 0 ] || fail "$bad row lines have a statement or table name of the wrong shape in SQLite"

# The SQL_REDO of the first line of each operation, as SQLite holds it, is
# byte for byte the field that the csv module reads from the same record.
for op in $operations; do
    rowid=$(sq "SELECT min(rowid) FROM redo WHERE OPERATION = '$op';")
    from_sqlite=$(sq "SELECT hex(SQL_REDO) FROM redo WHERE rowid = $rowid;")
    from_csv=$(python3 - "$csv" "$rowid" <<'EOF'
import csv, sys
with open(sys.argv[1], newline='') as f:
    rows = list(csv.reader(f))
print(rows[int(sys.argv[2])][8].encode().hex().upper())
EOF
)
    [ -n "$from_sqlite" ] || fail "$op: no SQL_REDO in SQLite for row $rowid"
    [ "$from_sqlite" = "$from_csv" ] ||
        fail "$op: SQL_REDO of row $rowid differs between SQLite and the csv module"
done

# Many CSVs into one table, as the README shows: the first file creates the
# table from its header line, each later one is imported with --skip 1 so its
# header line is not read as a row.  The sample mined in two SCN windows gives
# two files that together hold the lines of the whole run.
mkdir "$work/many"
"$quorvil" -log "$log" -out "$work/many/redo1.csv" -end_scn 2451705 2>/dev/null || fail "quorvil on $log -end_scn 2451705 failed"
"$quorvil" -log "$log" -out "$work/many/redo2.csv" -start_scn 2451706 2>/dev/null || fail "quorvil on $log -start_scn 2451706 failed"
part1=$(($(wc -l <"$work/many/redo1.csv") - 1)) part2=$(($(wc -l <"$work/many/redo2.csv") - 1))
[ "$part1" -gt 0 ] && [ "$part2" -gt 0 ] && [ "$((part1 + part2))" -eq "$rows" ] ||
    fail "the SCN windows of the sample hold $part1 and $part2 lines, the whole run $rows"
(
    cd "$work/many"
    skip=
    for f in redo*.csv; do
        sqlite3 -bail redo.db ".import --csv $skip '$f' redo"
        skip='--skip 1'
    done
) 2>"$work/many.err" && [ ! -s "$work/many.err" ] || { cat "$work/many.err" >&2; fail "the .import loop failed or complained"; }
# the same rows, in the same order, as the single import of the whole run
dump() { sqlite3 -batch -bail -cmd '.mode quote' "$1" 'SELECT * FROM redo ORDER BY rowid;' >"$1.rows"; }
dump "$work/many/redo.db" && dump "$db" || fail "reading the tables back failed"
cmp "$work/many/redo.db.rows" "$db.rows" >&2 || fail "the rows loaded from two CSVs are not those of the single import"

# Text that is not UTF-8 is stored as its bytes: Café in Latin-1 is 43 61 66 e9.
"$writer" "$work/latin1.log" || fail "$writer could not write the log"
"$quorvil" -log "$work/latin1.log" -out "$work/latin1.csv" 2>/dev/null || fail "quorvil on the Latin-1 log failed"
names=$(sqlite3 -batch -bail "$work/latin1.db" ".import --csv '$work/latin1.csv' redo" \
    "SELECT group_concat(hex(TABLE_NAME), ' ') FROM redo WHERE OPERATION = 'DDL';") || fail "loading the Latin-1 CSV failed"
[ "$names" = "436166E9 C974E92C2032303234" ] || fail "SQLite holds the DDL names as $names, not the bytes of the CSV"

echo "sqlite_test: ok ($rows rows; $part1 + $part2 from two CSVs into one table; Latin-1 names kept as bytes)"
