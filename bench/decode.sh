#!/usr/bin/env bash
# Times quorvil-decode on the CSV of a generated redo log.
#
#   bash bench/decode.sh [SIZE_MB]
#
# Builds Release quorvil, quorvil-decode and qvgen in build-bench/, has qvgen
# write a log of SIZE_MB MiB (default 1024, seed 1) and the dictionary of its
# tables (qvgen --bench-dict), and has quorvil write the log's CSV.  Then,
# page cache warm, median of 5 runs each:
#   - quorvil-decode -dict D -in CSV -out /dev/null: CPU time (user +
#     system), the decoding rate in GB of CSV per CPU second (GB = 10^9
#     bytes), and peak RSS;
#   - the wall time of quorvil -log L -out /dev/stdout | quorvil-decode -dict D
#     > /dev/null beside the same pipe into cat, the two taking turns.
# Everything goes to a temporary folder under $QV_BENCH_OUT (default $TMPDIR
# or /tmp), removed at the end.
set -euo pipefail

RUNS=5
size_mb=${1:-1024}
case "$size_mb" in
    '' | *[!0-9]* | 0) echo "usage: bash bench/decode.sh [SIZE_MB]" >&2; exit 2 ;;
esac

. "$(dirname "$0")/common.sh"
bench_setup quorvil quorvil-decode qvgen
quorvil=$build/quorvil
decode=$build/decode/quorvil-decode
qvgen=$build/tools/qvgen

log=$work/bench.log
dict=$work/dict.csv
csv=$work/bench.csv
"$qvgen" --bench "$size_mb" "$log"
"$qvgen" --bench-dict "$dict"
"$quorvil" -log "$log" -out "$csv" 2>/dev/null
csv_bytes=$(stat -c %s "$csv")
cat "$log" "$csv" >/dev/null

cpus=() rss=() pipe=() plain=()
for ((i = 0; i < RUNS; i++)); do
    /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$decode" -dict "$dict" -in "$csv" -out /dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    read -r _ m u s < <(tail -n 1 "$work/time")
    cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')")
    rss+=("$m")
    # shellcheck disable=SC2016  # $1..$3 belong to the inner sh
    /usr/bin/time -f '%e' -o "$work/time" sh -c \
        '"$1" -log "$2" -out /dev/stdout 2>/dev/null | "$3" -dict "$4" >/dev/null 2>&1' sh \
        "$quorvil" "$log" "$decode" "$dict"
    pipe+=("$(tail -n 1 "$work/time")")
    # shellcheck disable=SC2016
    /usr/bin/time -f '%e' -o "$work/time" sh -c '"$1" -log "$2" -out /dev/stdout 2>/dev/null | cat >/dev/null' sh \
        "$quorvil" "$log"
    plain+=("$(tail -n 1 "$work/time")")
done
cpu=$(printf '%s\n' "${cpus[@]}" | median)
peak=$(printf '%s\n' "${rss[@]}" | sort -n | tail -n 1)
p=$(printf '%s\n' "${pipe[@]}" | median)
c=$(printf '%s\n' "${plain[@]}" | median)

echo "machine: $(nproc) CPUs, $(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
echo "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) after the runs"
echo "log:     $(stat -c %s "$log") bytes ($size_mb MiB), CSV $csv_bytes bytes, $(wc -l <"$csv") lines"
tail -n 1 "$work/err" | sed 's/^/decode:  /'
awk -v b="$csv_bytes" -v c="$cpu" -v k="$peak" -v p="$p" -v q="$c" 'BEGIN {
    printf "rate:    %.2f GB of CSV per CPU second (%.2f s CPU, median of 5; target 1.00)\n", (c > 0 ? b / 1e9 / c : 0), c
    printf "rss:     %.1f MiB peak\n", k / 1024
    printf "pipe:    quorvil | quorvil-decode %.2f s wall, quorvil | cat %.2f s wall (median of 5), ratio %.2f\n",
           p, q, (q > 0 ? p / q : 0)
}'
