#!/usr/bin/env bash
# Runs the two README recipes exactly as the README writes them (each is
# the sh block after its "<!-- recipe: NAME" line) on a folder of three
# logs of one thread written by recipe_logs, with the built quorvil and
# quorvil-info first on PATH, and checks what they leave: the logs mined
# in sequence order, each row's log, and the committed-only view in commit
# order without the rolled-back transaction.  Also checks that the first
# recipe mines nothing when a sequence is missing.
#
# usage: recipes_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

fail() {
    echo "recipes_test: FAIL: $*" >&2
    exit 1
}

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
command -v sqlite3 >/dev/null || fail "sqlite3 is not installed (apt-get install -y sqlite3)"
for f in "$build/quorvil" "$build/info/quorvil-info" "$build/tests/recipe_logs"; do
    [ -x "$f" ] || fail "$f is not built"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-recipes.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/arch"
ln -s "$build/quorvil" "$work/bin/quorvil"
ln -s "$build/info/quorvil-info" "$work/bin/quorvil-info"
export PATH="$work/bin:$PATH"

# The sh block that follows "<!-- recipe: NAME" in the README.
recipe() {
    awk -v name="$1" '
        index($0, "<!-- recipe: " name " ") == 1 { found = 1; next }
        found && /^```sh$/ { inside = 1; next }
        inside && /^```$/ { exit }
        inside { print }
    ' "$source_dir/README.md"
}
recipe mine-folder >"$work/mine-folder.sh"
recipe committed >"$work/committed.sh"
[ -s "$work/mine-folder.sh" ] || fail "README has no mine-folder recipe"
[ -s "$work/committed.sh" ] || fail "README has no committed recipe"

"$build/tests/recipe_logs" "$work/arch" || fail "recipe_logs failed"
bash "$work/mine-folder.sh" "$work/arch" >"$work/mine.out" 2>"$work/mine.err" ||
    { cat "$work/mine.out" "$work/mine.err" >&2; fail "the mine-folder recipe failed"; }
bash "$work/committed.sh" "$work/arch" >"$work/committed.out" 2>"$work/committed.err" ||
    { cat "$work/committed.err" >&2; fail "the committed recipe failed"; }

db="$work/arch/redo.db"
sq() { sqlite3 -batch -bail "$db" "$@"; }

# logs mined by sequence (41, 42, 43), not by name
order=$(sq "SELECT group_concat(log, ' ') FROM (SELECT log FROM loads ORDER BY rowid);")
[ "$order" = "log_c.arc log_a.arc log_b.arc" ] || fail "logs loaded in the order '$order'"
# every line of every CSV is in the table once, with its log
for log in log_c log_a log_b; do
    want=$(($(wc -l <"$work/arch/$log.arc.csv") - 1))
    got=$(sq "SELECT count(*) FROM redo AS r JOIN loads AS l ON r.rowid BETWEEN l.first_row AND l.last_row
              WHERE l.log = '$log.arc';")
    [ "$got" -eq "$want" ] || fail "$log.arc: $got rows in the database, $want lines in its CSV"
done
[ "$(sq 'SELECT count(*) FROM redo;')" -eq 18 ] || fail "redo holds $(sq 'SELECT count(*) FROM redo;') rows, expected 18"

# committed only, in commit order: T1, T2 (over two logs), T5 with its DDL, T4; T3 rolled back
cut -d, -f1,2,5,9 "$work/arch/committed.csv" >"$work/got"
sq "SELECT COMMIT_SCN || ',' || SCN || ',' || XIDSQN || ',' || OPERATION || ',' || LOG FROM committed;" >"$work/got-log"
cat >"$work/want" <<'WANT'
COMMIT_SCN,SCN,XIDSQN,OPERATION
103,101,10,INSERT
202,110,20,INSERT
202,201,20,INSERT
305,303,50,DDL
305,304,50,INSERT
307,301,40,INSERT
307,306,40,DELETE
WANT
cat >"$work/want-log" <<'WANT'
103,101,10,INSERT,log_c.arc
202,110,20,INSERT,log_c.arc
202,201,20,INSERT,log_a.arc
305,303,50,DDL,log_b.arc
305,304,50,INSERT,log_b.arc
307,301,40,INSERT,log_b.arc
307,306,40,DELETE,log_b.arc
WANT
diff "$work/want" "$work/got" >&2 || fail "committed.csv is not the committed lines in commit order"
diff "$work/want-log" "$work/got-log" >&2 || fail "the committed view names the wrong logs"
[ "$(sq "SELECT count(*) FROM redo WHERE XIDSQN = '30' AND OPERATION = 'ROLLBACK';")" -eq 1 ] ||
    fail "the rolled-back transaction is not in redo, so its absence proves nothing"

# with sequence 42 gone, the first recipe stops before mining anything
mkdir "$work/gap"
"$build/tests/recipe_logs" "$work/gap" && rm "$work/gap/log_a.arc"
set +e
bash "$work/mine-folder.sh" "$work/gap" >"$work/gap.out" 2>"$work/gap.err"
status=$?
set -e
[ "$status" -ne 0 ] || fail "the mine-folder recipe went on over a missing sequence"
grep -q "thread 1: sequence 42 missing" "$work/gap.out" || { cat "$work/gap.out" >&2; fail "the missing sequence was not shown"; }
[ ! -e "$work/gap/redo.db" ] || fail "the mine-folder recipe made a database over a missing sequence"

echo "recipes_test: ok"
