#!/usr/bin/env bash
# Times quorvil on a generated redo log against plain I/O of the same size.
#
#   bash bench/run.sh [SIZE_MB] [--series]
#
# Builds a Release quorvil and qvgen in build-bench/, has qvgen write a log of
# SIZE_MB MiB (default 1024, seed 1), reads it once to warm the page cache,
# runs quorvil 5 times and reports the median wall time, the median CPU time
# (user + system), MB/s of log read (MB = 10^6 bytes), CSV bytes written and
# peak RSS.  The I/O baseline is timed the same way: dd reading the log plus
# dd writing a file as large as the CSV, median of 5, the two taking turns.  "ratio" is quorvil's
# median wall time over the baseline's.  The load average is printed too:
# on a shared machine the wall times move with it, the CPU times much less.
# --series also runs 256 MiB, 1 GiB and 2 GiB and prints how time grows.
#
# Everything goes to a temporary folder under $QV_BENCH_OUT (default $TMPDIR
# or /tmp; /dev/shm takes the disk out of the figures), removed at the end.  With
# QV_BENCH_DIR set, the logs are kept there (bench-<SIZE>M.log) and reused
# by later runs; delete them after changing qvgen.
set -euo pipefail

RUNS=5
size_mb=1024
series=0
for arg in "$@"; do
    case "$arg" in
        --series) series=1 ;;
        ''|*[!0-9]*) echo "usage: bash bench/run.sh [SIZE_MB] [--series]" >&2; exit 2 ;;
        *) size_mb=$arg ;;
    esac
done
[ "$size_mb" -gt 0 ] || { echo "SIZE_MB must be at least 1" >&2; exit 2; }

. "$(dirname "$0")/common.sh"
bench_setup quorvil qvgen
quorvil=$build/quorvil
qvgen=$build/tools/qvgen

# Times one run of a command under /usr/bin/time, after removing the file it
# writes (the first argument) and syncing, and appends its wall time, CPU time
# (user + system) and peak RSS (KiB) to the arrays named by $2, $3 and $4.
time_one() {
    local out=$1 tv=$2 cv=$3 rv=$4 e m u s
    shift 4
    rm -f "$out"
    sync
    if ! /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
        echo "failed: $*" >&2
        cat "$work/err" >&2
        exit 1
    fi
    read -r e m u s < <(tail -n 1 "$work/time")
    eval "$tv+=(\"\$e\")"
    eval "$cv+=(\"\$(awk -v u=\"\$u\" -v s=\"\$s\" 'BEGIN { printf \"%.2f\", u + s }')\")"
    eval "$rv+=(\"\$m\")"
}

# Prints one row of the table for a log of $1 MiB; leaves the median in $med_s.
bench_size() {
    local mb=$1 log
    if [ -n "${QV_BENCH_DIR:-}" ]; then
        mkdir -p "$QV_BENCH_DIR"
        log=$QV_BENCH_DIR/bench-${mb}M.log
    else
        log=$work/bench-${mb}M.log
    fi
    [ -s "$log" ] || "$qvgen" --bench "$mb" "$log"
    cat "$log" >/dev/null

    local log_bytes csv_bytes count q_s q_cpu q_kib b_s i
    local q_times=() q_cpus=() q_rss=() b_times=() b_cpus=() b_rss=()
    log_bytes=$(stat -c %s "$log")
    # one run first, to learn the CSV size the baseline writes
    "$quorvil" -log "$log" -out "$work/out.csv" 2>/dev/null
    csv_bytes=$(stat -c %s "$work/out.csv")
    count=$(((csv_bytes + 4194303) / 4194304))

    # quorvil and the baseline take turns, so both meet the same state of the
    # page cache and of writeback
    for ((i = 0; i < RUNS; i++)); do
        time_one "$work/out.csv" q_times q_cpus q_rss "$quorvil" -log "$log" -out "$work/out.csv"
        rm -f "$work/out.csv"
        # shellcheck disable=SC2016  # $1..$3 belong to the inner sh
        time_one "$work/zero" b_times b_cpus b_rss sh -c \
            'dd if="$1" of=/dev/null bs=4M status=none && dd if=/dev/zero of="$2" bs=4M count="$3" status=none' \
            sh "$log" "$work/zero" "$count"
        rm -f "$work/zero"
    done
    q_s=$(printf '%s\n' "${q_times[@]}" | median)
    q_cpu=$(printf '%s\n' "${q_cpus[@]}" | median)
    q_kib=$(printf '%s\n' "${q_rss[@]}" | sort -n | tail -n 1)
    b_s=$(printf '%s\n' "${b_times[@]}" | median)
    [ -n "${QV_BENCH_DIR:-}" ] || rm -f "$log"

    awk -v mb="$mb" -v lb="$log_bytes" -v q="$q_s" -v c="$q_cpu" -v cb="$csv_bytes" -v k="$q_kib" \
        -v b="$b_s" 'BEGIN {
        printf "%7s %13.0f %9.2f %7.2f %8.0f %14.0f %8.1f %11.2f %6.2f\n",
               mb "M", lb, q, c, (q > 0 ? lb / 1e6 / q : 0), cb, k / 1024, b, (b > 0 ? q / b : 0)
    }'
    med_s=$q_s
}

mem_kib=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
echo "machine: $(nproc) CPUs, ${cpu:-unknown CPU}, $(awk -v k="$mem_kib" 'BEGIN { printf "%.1f", k / 1048576 }') GiB memory, Linux $(uname -r)"
echo "build:   $(c++ --version | head -n 1), Release; temp folder on $(df -T "$work" | awk 'NR == 2 { print $2 }')"
echo "load:    $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) before the runs"
echo "runs:    median of $RUNS, page cache warm; baseline = dd read of the log + dd write of CSV-sized file"
echo
printf "%7s %13s %9s %7s %8s %14s %8s %11s %6s\n" \
    size "log bytes" "quorvil s" "cpu s" "MB/s" "CSV bytes" "RSS MiB" "baseline s" ratio

sizes=$size_mb
if [ "$series" = 1 ]; then
    sizes=$(printf '%s\n' "$size_mb" 256 1024 2048 | sort -n -u)
fi
declare -A took
for mb in $sizes; do
    bench_size "$mb"
    took[$mb]=$med_s
done

if [ "$series" = 1 ]; then
    echo
    awk -v a="${took[256]}" -v b="${took[1024]}" -v c="${took[2048]}" 'BEGIN {
        printf "growth: 1G/256M %.2f (4.00 = linear), 2G/1G %.2f (2.00 = linear)\n",
               (a > 0 ? b / a : 0), (b > 0 ? c / b : 0)
    }'
fi
