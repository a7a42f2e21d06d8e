#!/usr/bin/env bash
# What checking every block costs quorvil: CPU time on a generated log with
# checksums against a copy of it with every stored checksum set to 0 (a log
# written without them, which is mined unchecked).
#
#   bash bench/checksums.sh [SIZE_MB]
#
# Builds a Release quorvil and qvgen in build-bench/, has qvgen write a log of
# SIZE_MB MiB (default 1024), makes the copy, checks that the two give the
# same CSV, then runs quorvil on the two 7 times each, taking turns, writing
# to /dev/null (so that writing the CSV out does not blur the figures), and
# prints the median CPU time (user + system) of each and how much more the
# checked log costs.  Target: at most 5 % more.
set -euo pipefail

RUNS=7
size_mb=${1:-1024}
case "$size_mb" in
    ''|*[!0-9]*) echo "usage: bash bench/checksums.sh [SIZE_MB]" >&2; exit 2 ;;
esac

. "$(dirname "$0")/common.sh"
bench_setup quorvil qvgen
"$build/tools/qvgen" --bench "$size_mb" "$work/on.log" >/dev/null
# block 0 keeps its checksum at offset 16, every later block at offset 14
python3 - "$work/on.log" "$work/off.log" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
bsz0 = int.from_bytes(data[20:24], 'little')
bsz = int.from_bytes(data[bsz0 + 44:bsz0 + 48], 'little')
data[16:18] = b'\0\0'
for off in range(bsz0 + 14, len(data) - 1, bsz):
    data[off:off + 2] = b'\0\0'
open(sys.argv[2], 'wb').write(data)
PY
for kind in on off; do
    "$build/quorvil" -log "$work/$kind.log" -out "$work/$kind.csv" 2>"$work/err" ||
        { cat "$work/err" >&2; echo "quorvil failed on the $kind log" >&2; exit 1; }
done
cmp -s "$work/on.csv" "$work/off.csv" || { echo "the two logs gave different CSV" >&2; exit 1; }
rm -f "$work/on.csv" "$work/off.csv"

on=() off=()
for ((i = 0; i < RUNS; i++)); do
    for kind in on off; do
        /usr/bin/time -f '%U %S' -o "$work/time" "$build/quorvil" -log "$work/$kind.log" -out /dev/null \
            2>"$work/err" || { cat "$work/err" >&2; echo "quorvil failed on the $kind log" >&2; exit 1; }
        read -r u s <"$work/time"
        eval "$kind+=(\"$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')\")"
    done
done
c_on=$(printf '%s\n' "${on[@]}" | median)
c_off=$(printf '%s\n' "${off[@]}" | median)

echo "log:          $(stat -c %s "$work/on.log") bytes ($size_mb MiB), page cache warm, median of $RUNS"
echo "load:         $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) after the runs"
awk -v a="$c_on" -v b="$c_off" 'BEGIN {
    printf "checked:      %.2f s CPU\n", a
    printf "unchecked:    %.2f s CPU\n", b
    printf "cost:         %+.1f %% (target: at most +5 %%)%s\n", (b > 0 ? (a / b - 1) * 100 : 0), (b > 0 && a / b > 1.05 ? "  OVER" : "")
}'
