#!/usr/bin/env bash
# Installs missing build packages, builds the Release configuration into
# build/ and runs the main job: a minimization of the Rosenbrock problem.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2 --target vrnmath_cli

if [[ -x build/apps/vrnmath ]]; then
    # The status log of the run, then its summary (without --log: a progress table instead).
    build/apps/vrnmath minimize --problem rosenbrock --method 1 --log
else
    echo "Built (the vrnmath program is not part of this build yet):"
    find build -maxdepth 3 -type f \( -name 'libvrnmath*' -o -name 'test_*' -o -name 'bench_*' \) \
        -perm -u+r | sort
fi
