#!/usr/bin/env bash
# Runs the two README recipes as the README writes them (the sh block after
# each "<!-- recipe: NAME" line) on three logs of one thread written by
# recipe_logs, with the built quorvil and quorvil-info first on PATH.  Checks
# that the logs are mined in sequence order with each row's log, that the
# committed-only view is in commit order without the rolled-back transaction,
# and that the first recipe mines nothing when a sequence is missing.
#
# usage: recipes_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

fail() { echo "recipes_test: FAIL: $*" >&2; exit 1; }
# check WHAT WANT GOT: the difference is shown when they are not the same
check() { diff <(echo "$2") <(echo "$3") >&2 || fail "$1 (- expected, + got)"; }

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
readme=$(cd "$2" && pwd)/README.md
command -v sqlite3 >/dev/null || fail "sqlite3 is not installed (apt-get install -y sqlite3)"
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-recipes.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/arch"
for f in quorvil info/quorvil-info tests/recipe_logs; do
    [ -x "$1/$f" ] || fail "$1/$f is not built"
    ln -s "$(cd "$1" && pwd)/$f" "$work/bin/"
done
export PATH="$work/bin:$PATH"

# recipe NAME DIR: runs the recipe on DIR, its output in $work/NAME.out and .err
recipe() {
    awk -v name="$1" 'index($0, "<!-- recipe: " name " ") == 1 { found = 1; next }
        found && /^```sh$/ { inside = 1; next } inside && /^```$/ { exit } inside' "$readme" >"$work/$1.sh"
    [ -s "$work/$1.sh" ] || fail "README has no $1 recipe"
    bash "$work/$1.sh" "$2" >"$work/$1.out" 2>"$work/$1.err"
}

recipe_logs "$work/arch" || fail "recipe_logs failed"
cp -r "$work/arch" "$work/gap"; rm "$work/gap/log_a.arc"
for r in mine-folder committed; do
    recipe $r "$work/arch" || { cat "$work/$r.out" "$work/$r.err" >&2; fail "the $r recipe failed"; }
done

sq() { sqlite3 -batch -bail -separator , "$work/arch/redo.db" "$@"; }
# logs mined by sequence (41, 42, 43), not by name; every line of every CSV in the table once, with its log
check "the logs loaded, in order, with their rows" \
    "$(for l in log_c log_a log_b; do echo "$l.arc,$(($(wc -l <"$work/arch/$l.arc.csv") - 1))"; done)" \
    "$(sq "SELECT l.log, count(r.rowid) FROM loads AS l LEFT JOIN redo AS r ON r.rowid BETWEEN l.first_row
           AND l.last_row GROUP BY l.rowid ORDER BY l.rowid;")"
check "the rows in redo" 18 "$(sq 'SELECT count(*) FROM redo;')"

# committed only, in commit order: T1, T2 (over two logs), T5 with its DDL, T4; T3 rolled back
want='103,101,10,INSERT,log_c.arc
202,110,20,INSERT,log_c.arc
202,201,20,INSERT,log_a.arc
305,303,50,DDL,log_b.arc
305,304,50,INSERT,log_b.arc
307,301,40,INSERT,log_b.arc
307,306,40,DELETE,log_b.arc'
check "the committed view" "$want" "$(sq 'SELECT COMMIT_SCN, SCN, XIDSQN, OPERATION, LOG FROM committed;')"
check "committed.csv" "$(echo COMMIT_SCN,SCN,XIDSQN,OPERATION; cut -d, -f1-4 <<<"$want")" \
    "$(cut -d, -f1,2,5,9 "$work/arch/committed.csv")"
check "the rolled-back transaction in redo (else its absence proves nothing)" 1 \
    "$(sq "SELECT count(*) FROM redo WHERE XIDSQN = '30' AND OPERATION = 'ROLLBACK';")"

# with sequence 42 gone, the first recipe stops before mining anything
! recipe mine-folder "$work/gap" || fail "the mine-folder recipe went on over a missing sequence"
grep -q "thread 1: sequence 42 missing" "$work/mine-folder.out" ||
    { cat "$work/mine-folder.out" >&2; fail "the missing sequence was not shown"; }
[ ! -e "$work/gap/redo.db" ] || fail "the mine-folder recipe made a database over a missing sequence"
echo "recipes_test: ok"
