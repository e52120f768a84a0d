#!/usr/bin/env bash
# Large n with method 4: a separable quadratic, a tridiagonal quadratic and the extended
# Rosenbrock function at n = 10^4, 10^5 and 10^6, solved by the engine's method 4
# (conjugate gradient, analytic gradient) and by SciPy's CG and L-BFGS-B (Debian
# python3-scipy) with the same gradients. Every case runs in a process of its own and
# reports its peak resident memory (ru_maxrss). Takes a minute or two.
#
#   bash bench/large_n.sh [OUTPUT.csv]
#
# Builds bench/large_n in build-bench (Release) first. Prints the table of
# docs/performance.md ("Large n with method 4") and keeps the rows in OUTPUT.csv
# (default build-bench/large_n.csv).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
out=${1:-$build/large_n.csv}
python=/usr/bin/python3 # Debian's interpreter, which has python3-scipy

if ! "$python" -c "import scipy" 2>/dev/null; then
    echo "large_n: SciPy is missing; install python3-scipy (bash scripts/deps.sh)" >&2
    exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVRN_BUILD_BENCH=ON -DVRN_BUILD_TESTS=OFF \
    -DVRN_BUILD_APPS=OFF -DVRN_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j2 --target large_n >/dev/null

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "problem,n,solver,iterations,f evaluations,g evaluations,seconds,peak KiB,final f,estimated engine bytes,code" >"$out"
for n in 10000 100000 1000000; do
    for problem in separable tridiagonal rosenbrock; do
        "$build/bench/large_n" "$problem" "$n" >>"$out"
        for solver in CG L-BFGS-B; do
            "$python" "$root/bench/python/large_n.py" "$problem" "$n" "$solver" >>"$out"
        done
    done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

"$python" - "$out" <<'EOF'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1])))
print("| problem | n | solver | iterations | f / g evaluations | time (s) | peak memory (MiB) | final f |")
print("|---|---:|---|---:|---:|---:|---:|---:|")
for r in rows:
    mib = int(r["peak KiB"]) / 1024.0
    print(f"| {r['problem']} | {int(r['n']):,} | {r['solver']} | {r['iterations']} | "
          f"{r['f evaluations']} / {r['g evaluations']} | {float(r['seconds']):.3f} | {mib:.0f} | {r['final f']} |")
EOF
