#!/usr/bin/env bash
# Times quorvil-info on a generated redo log against cat reading the same file.
#
#   bash bench/info.sh [SIZE_MB]
#
# Builds a Release quorvil-info and qvgen in build-bench/, has qvgen write a
# log of SIZE_MB MiB (default 1024), reads it once to warm the page cache,
# then runs quorvil-info (report to /dev/null) and `cat LOG > /dev/null`
# 5 times each, taking turns, and prints the median wall time of each, their
# ratio, and quorvil-info's peak RSS (largest of the runs, /usr/bin/time %M).
# Then the same for a log of the same size that is mostly never written (a
# generated log of 1/16 of the size, then zeros to the full size, as a
# preallocated online log holds after its next available block).
# Targets: ratio at most 1.3 for both, peak RSS at most 8 MiB whatever the size.
# The log goes to a temporary folder under $QV_BENCH_OUT (default $TMPDIR or
# /tmp), removed at the end.
set -euo pipefail

RUNS=5
size_mb=${1:-1024}
case "$size_mb" in
    ''|*[!0-9]*) echo "usage: bash bench/info.sh [SIZE_MB]" >&2; exit 2 ;;
esac

. "$(dirname "$0")/common.sh"
bench_setup quorvil-info qvgen
info=$build/info/quorvil-info
log=$work/bench.log
"$build/tools/qvgen" --bench "$size_mb" "$log" >/dev/null

# The runs of one log: quorvil-info and cat taking turns.
bench_log() {
    local log=$1 what=$2 e m i_med c_med peak
    local info_s=() cat_s=() rss=()
    cat "$log" >/dev/null
    for ((i = 0; i < RUNS; i++)); do
        # quorvil-info's status is 0 on these intact logs; anything else is a failure
        /usr/bin/time -f '%e %M' -o "$work/time" "$info" "$log" >/dev/null ||
            { echo "quorvil-info $log failed" >&2; exit 1; }
        read -r e m <"$work/time"
        info_s+=("$e")
        rss+=("$m")
        /usr/bin/time -f '%e' -o "$work/time" sh -c 'cat "$1" >/dev/null' sh "$log"
        cat_s+=("$(cat "$work/time")")
    done
    i_med=$(printf '%s\n' "${info_s[@]}" | median)
    c_med=$(printf '%s\n' "${cat_s[@]}" | median)
    peak=$(printf '%s\n' "${rss[@]}" | sort -n | tail -n 1)

    echo "log:          $(stat -c %s "$log") bytes ($size_mb MiB, $what), page cache warm, median of $RUNS"
    echo "load:         $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) after the runs"
    awk -v i="$i_med" -v c="$c_med" -v k="$peak" 'BEGIN {
        printf "quorvil-info: %.2f s\n", i
        printf "cat:          %.2f s\n", c
        printf "ratio:        %.2f (target: at most 1.30)%s\n", (c > 0 ? i / c : 0), (c > 0 && i / c > 1.3 ? "  OVER" : "")
        printf "peak RSS:     %.1f MiB (target: at most 8 MiB)%s\n", k / 1024, (k > 8192 ? "  OVER" : "")
    }'
}

bench_log "$log" "generated"
size=$(stat -c %s "$log")
rm -f "$log"
"$build/tools/qvgen" --bench $(( (size_mb + 15) / 16 )) "$work/unwritten.log" >/dev/null
head -c $(( size - $(stat -c %s "$work/unwritten.log") )) /dev/zero >>"$work/unwritten.log"
echo
bench_log "$work/unwritten.log" "mostly never written"
