#!/usr/bin/env bash
# Builds quorvil and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-test/, runs the whole suite through CTest, then runs each fuzz
# target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

# What building quorvil needs (the compiler, the decompression libraries).
bash tools/build_deps.sh

# The tools the suite drives, and the Debian packages that bring them.  On a
# machine without one of them, root installs it; anyone else is told what to
# install.
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
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    else
        echo "run_all.sh: please install these Debian packages first: ${missing[*]}" >&2
        exit 1
    fi
fi

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVIL_SANITIZE=ON >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j "$(nproc)"

# A short run of each fuzz target from the committed seeds; any finding fails.
bash fuzz/run.sh 60
