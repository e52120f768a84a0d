#!/usr/bin/env bash
# Builds the defaults study (Release, in build-defaults/), runs it and SciPy's baseline on
# the whole problem set, and prints the tables of docs/performance.md, "Choosing the
# defaults". The CSV rows and the tables stay in build-defaults/study/.
# Takes about two minutes of CPU after the build.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-defaults"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVRN_BUILD_BENCH=ON -DVRN_BUILD_TESTS=OFF \
      -DVRN_BUILD_APPS=OFF -DVRN_BUILD_PYTHON=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target defaults_study vrn_problem_set >/dev/null
out="$build/study"
mkdir -p "$out"
study="$build/bench/defaults/defaults_study"
"$study" --classic-only >"$out/classic.csv"
"$study" --scaled-only >"$out/scaled.csv"
"$study" --fits-only >"$out/fits.csv"
/usr/bin/python3 "$root/bench/defaults/scipy_baseline.py" --lib "$build/bench/defaults/libvrn_problem_set.so" \
    >"$out/scipy.csv"
/usr/bin/python3 "$root/bench/defaults/summarize.py" "$out/classic.csv" "$out/scaled.csv" "$out/fits.csv" \
    "$out/scipy.csv" | tee "$out/tables.md"
