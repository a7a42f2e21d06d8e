#!/usr/bin/env bash
# Builds quorvil and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-test/, then runs the whole suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVIL_SANITIZE=ON >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j "$(nproc)"

# A short run of each fuzz target from the committed seeds; any finding fails.
bash fuzz/run.sh 60
