#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/
# and runs fuzz_record, fuzz_mine, fuzz_decode, fuzz_packed (quorvil on
# compressed logs) and fuzz_info (quorvil-info's whole path) side by side for SECONDS
# each (default 60), each on a scratch corpus (fuzz/corpus-<target>/, git-ignored) that
# starts from the committed seeds.  Exits non-zero when any target finds
# anything (crash, sanitizer report, leak, timeout, out of memory); the
# input is left in fuzz/corpus-<target>-findings/.
#
#   bash fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

secs=${1:-60}
build=${QUORVIL_FUZZ_BUILD:-build-fuzz}

cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target fuzz_record fuzz_mine fuzz_decode fuzz_packed fuzz_info

# target  max_len  close_fd_mask: a record may be 1 MiB (plus the mode byte);
# logs stay small; decode's CSV and dictionary as long as its largest seed,
# and more; packed logs (quorvil) and quorvil-info's whole path, whose report
# on standard output is dropped too
targets=("record 1048577 2" "mine 262144 2" "decode 131072 2" "packed 65536 2" "info 65536 3")

pids=()
for t in "${targets[@]}"; do
    read -r name max_len mask <<<"$t"
    corpus=fuzz/corpus-$name
    findings=fuzz/corpus-$name-findings
    mkdir -p "$corpus" "$findings"
    for seed in fuzz/seeds/"$name"/*; do
        [ -e "$corpus/${seed##*/}" ] || cp "$seed" "$corpus"/
    done
    # -close_fd_mask: the targets' own standard error (banner, damage lines),
    # and for 3 standard output, go to /dev/null; libFuzzer and the
    # sanitizers keep reporting
    "$build/fuzz_$name" "$corpus" \
        -max_total_time="$secs" -max_len="$max_len" -timeout=10 -rss_limit_mb=4096 \
        -close_fd_mask="$mask" -print_final_stats=1 -artifact_prefix="$findings/" \
        >"$findings/fuzz.log" 2>&1 &
    pids+=($!)
done

status=0
i=0
for t in "${targets[@]}"; do
    read -r name _ <<<"$t"
    log=fuzz/corpus-$name-findings/fuzz.log
    if wait "${pids[$i]}"; then
        echo "fuzz_$name: no finding"
    else
        status=1
        echo "fuzz_$name: FINDING (see $log and fuzz/corpus-$name-findings/)"
        grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -20 || true
    fi
    grep -E "^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs" "$log" | sed "s/^/fuzz_$name: /" || true
    i=$((i + 1))
done
exit $status
