#!/usr/bin/env bash
# What reading a zstd-compressed log in place costs quorvil, against
# decompressing it in a separate process into a pipe:
#
#   quorvil -log LOG.zst -out /dev/null
#   zstd -dc LOG.zst | quorvil -log - -out /dev/null
#
#   bash bench/packed.sh [SIZE_MB]
#
# Builds a Release quorvil and qvgen in build-bench/, has qvgen write a log of
# SIZE_MB MiB (default 1024), compresses it with zstd (level 3), checks that
# both ways give the CSV of the plain log, then runs each way 5 times, taking
# turns, and prints the median CPU time (user + system, both processes of
# the pipe added) and wall time of each.  Target: in place costs no more CPU
# than the pipe.  quorvil stays one thread, so its wall time is the sum of
# the two steps.
set -euo pipefail

RUNS=5
size_mb=${1:-1024}
case "$size_mb" in
    ''|*[!0-9]*) echo "usage: bash bench/packed.sh [SIZE_MB]" >&2; exit 2 ;;
esac
command -v zstd >/dev/null || { echo "bench/packed.sh needs the zstd program (Debian package zstd)" >&2; exit 2; }

. "$(dirname "$0")/common.sh"
bench_setup quorvil qvgen
q=$build/quorvil
"$build/tools/qvgen" --bench "$size_mb" "$work/log" >/dev/null
zstd -q -3 "$work/log" -o "$work/log.zst"
"$q" -log "$work/log" -out "$work/plain.csv" 2>/dev/null
"$q" -log "$work/log.zst" -out "$work/inplace.csv" 2>/dev/null
zstd -dc "$work/log.zst" | "$q" -log - -out "$work/pipe.csv" 2>/dev/null
cmp -s "$work/plain.csv" "$work/inplace.csv" && cmp -s "$work/plain.csv" "$work/pipe.csv" ||
    { echo "the compressed log did not give the CSV of the plain log" >&2; exit 1; }
rm -f "$work/log" "$work"/*.csv

in_cpu=() in_wall=() pipe_cpu=() pipe_wall=()
for ((i = 0; i < RUNS; i++)); do
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$q" -log "$work/log.zst" -out /dev/null 2>/dev/null
    read -r e u s < <(tail -n 1 "$work/time")
    in_wall+=("$e") in_cpu+=("$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')")
    # sh waits for both processes of the pipe: its times hold both
    /usr/bin/time -f '%e %U %S' -o "$work/time" sh -c 'zstd -dc "$1" | "$2" -log - -out /dev/null 2>/dev/null' \
        sh "$work/log.zst" "$q"
    read -r e u s < <(tail -n 1 "$work/time")
    pipe_wall+=("$e") pipe_cpu+=("$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')")
done

echo "log:          $size_mb MiB, $(stat -c %s "$work/log.zst") bytes with zstd -3, median of $RUNS"
echo "load:         $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) after the runs"
awk -v ic="$(printf '%s\n' "${in_cpu[@]}" | median)" -v iw="$(printf '%s\n' "${in_wall[@]}" | median)" \
    -v pc="$(printf '%s\n' "${pipe_cpu[@]}" | median)" -v pw="$(printf '%s\n' "${pipe_wall[@]}" | median)" 'BEGIN {
    printf "in place:     %.2f s CPU, %.2f s wall\n", ic, iw
    printf "zstd | pipe:  %.2f s CPU, %.2f s wall (both processes)\n", pc, pw
    printf "CPU in place over the pipe: %+.1f %% (target: at most 0)%s\n", (pc > 0 ? (ic / pc - 1) * 100 : 0), (ic > pc ? "  OVER" : "")
}'
