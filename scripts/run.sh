#!/usr/bin/env bash
# Installs missing build packages, builds the Release configuration into
# build/ and runs the main job: a minimization of the Rosenbrock problem.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2 --target vrnmath_cli

# The status log of the run, then its summary (without --log: a progress table instead).
build/apps/vrnmath minimize --problem rosenbrock --method 1 --log
