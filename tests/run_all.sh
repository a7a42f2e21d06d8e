#!/usr/bin/env bash
# Builds quorvil and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-test/, runs the whole suite through CTest, then runs each fuzz
# target for a minute.  The last lines are the summary: one line for the
# fuzz run, then CTest's own line (N% tests passed, ...).  Any failure fails
# the script.
set -euo pipefail
cd "$(dirname "$0")/.."

# The tools the suite drives, and the Debian packages that bring them; they
# go to tools/build_deps.sh with what building quorvil needs (the compiler,
# the decompression libraries), which has root install what is missing and
# tells anyone else what to install.
need=(clang++:clang sqlite3:sqlite3 man:man-db groff:groff-base
      dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev script:bsdutils valgrind:valgrind /usr/bin/time:time runuser:util-linux)
missing=()
for pair in "${need[@]}"; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || missing+=("${pair##*:}")
done
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-dev)
# The loading tests: a PostgreSQL server of their own, and pandas for Debian's
# python3 (not whichever python3 comes first on PATH).
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || missing+=(postgresql)
/usr/bin/python3 -c 'import pandas' >/dev/null 2>&1 || missing+=(python3-pandas)
bash tools/build_deps.sh ${missing[@]+"${missing[@]}"}

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVIL_SANITIZE=ON >/dev/null
cmake --build build-test

# CTest's and the fuzz run's output is kept to end with their summaries.
logs=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-run_all.XXXXXX")
trap 'rm -rf "$logs"' EXIT
# ctest_summary: CTest's own summary line, as it printed it
ctest_summary() {
    grep -E '^[0-9]+% tests passed' "$logs/ctest" | tail -n 1 || echo "ctest printed no summary line"
}

ctest_status=0
ctest --test-dir build-test --output-on-failure -j "$(nproc)" | tee "$logs/ctest" || ctest_status=$?
if [ "$ctest_status" -ne 0 ]; then
    echo
    echo "fuzz: not run, the test suite failed"
    ctest_summary
    exit "$ctest_status"
fi

# A short run of each fuzz target from the committed seeds; any finding fails.
fuzz_secs=60
fuzz_status=0
bash fuzz/run.sh "$fuzz_secs" | tee "$logs/fuzz" || fuzz_status=$?
clean=$(grep -c ': no finding$' "$logs/fuzz" || true)
found=$(sed -n 's/^\(fuzz_[a-z_]*\): FINDING.*/\1/p' "$logs/fuzz" | tr '\n' ' ')

echo
if [ -n "$found" ]; then
    echo "fuzz: FINDING in ${found% } ($clean targets without finding, $fuzz_secs s each)"
elif [ "$fuzz_status" -ne 0 ]; then
    echo "fuzz: failed with status $fuzz_status ($clean targets without finding)"
else
    echo "fuzz: no finding in $clean targets, $fuzz_secs s each"
fi
ctest_summary
exit "$fuzz_status"
