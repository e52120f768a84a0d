#!/usr/bin/env bash
# Installs missing build packages, builds into build/ and runs the whole test suite
# (GoogleTest suites, the program's tests, the Python package's pytest suites and the
# run report's browser test, which says it is skipped when no browser can be started).
# The benchmarks are not needed for the tests and are left out of this build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVRN_BUILD_BENCH=OFF
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
