#!/usr/bin/env bash
# Builds the comparison program (Release, build-compare/) and runs it: our minimizer
# side by side with GSL's multimin on the same problems and start points. Prints the
# Markdown tables and keeps a copy in build-compare/compare.md. Extra arguments go to
# the program (--help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
build=${BUILD_DIR:-build-compare}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVRN_BUILD_TESTS=OFF -DVRN_BUILD_APPS=OFF >/dev/null
cmake --build "$build" -j2 --target compare
"$build/bench/compare/compare" "$@" | tee "$build/compare.md"
