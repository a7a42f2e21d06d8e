#!/usr/bin/env bash
# Runs quorvil under valgrind (memcheck, full leak check) on the sample log,
# the small fuzz seed logs (damaged and cut-off ones among them) and files
# refused at the header, so the error paths are checked for leaks too.
# Valgrind cannot run a sanitizer build: a plain build of quorvil is made
# (or brought up to date) next to the build tree, in ../build-valgrind.
#
# usage: valgrind_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

fail() {
    echo "valgrind_test: FAIL: $*" >&2
    exit 1
}

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
plain=${QUORVIL_VALGRIND_BUILD:-$(dirname "$build")/build-valgrind}

command -v valgrind >/dev/null || fail "valgrind is not installed"

mkdir -p "$plain"
(
    # one build at a time when several test runs share the directory
    flock 9
    cmake -S "$source_dir" -B "$plain" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUORVIL_SANITIZE=OFF -DQUORVIL_TESTS=OFF >"$plain/configure.out" 2>&1 ||
        { cat "$plain/configure.out" >&2; exit 1; }
    cmake --build "$plain" --target quorvil >"$plain/build.out" 2>&1 ||
        { cat "$plain/build.out" >&2; exit 1; }
) 9>"$plain/.lock" || fail "plain build in $plain failed"
quorvil="$plain/quorvil"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-valgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT
: >"$work/empty.log"

# log  wanted status (valgrind itself exits 1 on any error or leak)
cases=("$source_dir/samples/sample.log 0" "$work/empty.log 255" "$work/missing.log 255")
for f in "$source_dir"/fuzz/seeds/mine/*.log; do
    cases+=("$f any")
done

n=0
for c in "${cases[@]}"; do
    read -r log want <<<"$c"
    status=0
    valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=all \
        --log-file="$work/valgrind.out" \
        "$quorvil" -log "$log" -out "$work/out.csv" >/dev/null 2>"$work/stderr" || status=$?
    if [ -s "$work/valgrind.out" ] || [ "$status" -eq 1 ]; then
        cat "$work/valgrind.out" >&2
        fail "valgrind reports errors or leaks on $log"
    fi
    case "$want:$status" in
        any:0 | any:255 | 0:0 | 255:255) ;;
        *) cat "$work/stderr" >&2; fail "$log: exit status $status, wanted $want" ;;
    esac
    n=$((n + 1))
done
echo "valgrind_test: $n runs, no error and no leak"
