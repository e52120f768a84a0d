#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
# Runs unattended (no tty needed); uses sudo when not run as root.
set -euo pipefail

PACKAGES=(g++ cmake make libgtest-dev googletest libbenchmark-dev libcli11-dev
          libmuparser-dev nlohmann-json3-dev libgsl-dev pkg-config clang-format
          libopenblas-dev   # libopenblas-dev: speed yardstick of bench_engine only
          pybind11-dev python3-dev python3-numpy  # the Python module (build/python)
          python3-pytest python3-scipy python3-dask python3-distributed python3-tqdm  # its tests: pytest, SciPy, Dask, tqdm
          python3-setuptools python3-wheel python3-pip python3-venv)  # pip install . / pip wheel . offline

missing=()
for pkg in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$pkg")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    echo "deps: all build packages present"
    exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=(sudo)
    else
        echo "deps: missing packages (${missing[*]}) and not root; install them and retry" >&2
        exit 1
    fi
fi

echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
