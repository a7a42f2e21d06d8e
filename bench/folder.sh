#!/usr/bin/env bash
# Times quorvil-folder loading a generated redo log into a SQLite database,
# then the README's committed-only query over that database.
#
#   bash bench/folder.sh [SIZE_MB]
#
# Builds a Release quorvil, quorvil-folder and qvgen in build-bench/, has
# qvgen write one log of SIZE_MB MiB (default 256) into a folder, runs
# quorvil-folder on the folder into redo.db, then runs the query the README
# shows under "bench: committed" (taken from README.md itself, so the query
# timed is the one users read) with the sqlite3 shell, its rows to
# /dev/null, 3 times, and prints the median.  Target: within seconds.
# Everything goes to a temporary folder under $QV_BENCH_OUT (default
# $TMPDIR or /tmp), removed at the end.
set -euo pipefail

RUNS=3
size_mb=${1:-256}
case "$size_mb" in
    ''|*[!0-9]*) echo "usage: bash bench/folder.sh [SIZE_MB]" >&2; exit 2 ;;
esac
command -v sqlite3 >/dev/null || { echo "bench/folder.sh needs the sqlite3 shell (Debian: sqlite3)" >&2; exit 2; }

. "$(dirname "$0")/common.sh"
bench_setup quorvil quorvil-folder qvgen
mkdir "$work/arch"
"$build/tools/qvgen" --bench "$size_mb" "$work/arch/1_1.arc" >/dev/null

# the query: the sql block after the marker in the README
query=$(awk '/<!-- bench: committed -->/ { on = 1; next } on && /^```sql/ { inq = 1; next }
             inq && /^```/ { exit } inq { print }' "$root/README.md")
[ -n "$query" ] || { echo "no query under \"bench: committed\" in README.md" >&2; exit 1; }

now() { date +%s.%N; }
t0=$(now)
"$build/quorvil-folder" -out "$work/redo.db" "$work/arch" >"$work/folder.out" ||
    { cat "$work/folder.out" >&2; echo "quorvil-folder failed" >&2; exit 1; }
t1=$(now)
rows=$(sqlite3 "$work/redo.db" 'SELECT count(*) FROM redo;')

times=()
for ((i = 0; i < RUNS; i++)); do
    s=$(now)
    sqlite3 "$work/redo.db" "$query" >/dev/null
    e=$(now)
    times+=("$(echo "$e - $s" | bc)")
done
median=$(printf '%s\n' "${times[@]}" | median)
committed=$(sqlite3 "$work/redo.db" "SELECT count(*) FROM (${query%;});")

echo "log:            $size_mb MiB, $rows lines loaded into redo.db ($(du -m "$work/redo.db" | cut -f1) MiB)"
printf 'quorvil-folder: %.2f s\n' "$(echo "$t1 - $t0" | bc)"
echo "committed view: $committed rows; runs: ${times[*]} s"
printf 'committed view query: %.2f seconds (median of %d)\n' "$median" "$RUNS"
