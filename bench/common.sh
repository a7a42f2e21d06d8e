# The set-up every benchmark script shares, sourced after its own argument
# checks:  bench_setup TARGET...
# builds a Release tree in build-bench/ (tests left out) with the targets
# named, and makes a scratch folder $work under $QV_BENCH_OUT (default
# $TMPDIR or /tmp), removed at the end.  Sets root, build and work.
# median reads numbers, one a line, and prints their median.

bench_setup() {
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    build=$root/build-bench
    work=$(mktemp -d -p "${QV_BENCH_OUT:-${TMPDIR:-/tmp}}")
    trap 'rm -rf "$work"' EXIT
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVIL_TESTS=OFF >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
