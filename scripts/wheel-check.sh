#!/usr/bin/env bash
# Builds the Python wheel offline (pip wheel --no-build-isolation, Debian's setuptools and
# wheel), installs it into a fresh venv that sees Debian's packages (NumPy, SciPy, Dask)
# and runs the pytest suite from a copy of python/tests outside the source tree against
# the installed package.
#   scripts/wheel-check.sh [DATAUTIL_REFERENCE]
# DATAUTIL_REFERENCE is the C++ reference program of the data-utility tests (default:
# build/python/vrn_datautil_reference of the plain build).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
reference=$(realpath "${1:-build/python/vrn_datautil_reference}")
if [[ ! -x "$reference" ]]; then
    echo "wheel-check: no $reference (build the target vrn_datautil_reference first)" >&2
    exit 1
fi
unset PYTHONPATH
work=$(mktemp -d /tmp/vrn-wheel.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Debian's interpreter, the one whose python3-setuptools, python3-wheel and pybind11-dev
# build the wheel without network.
python=/usr/bin/python3
"$python" -m pip wheel --no-build-isolation --no-deps --no-index -w "$work/dist" . >"$work/wheel.log" 2>&1 ||
    { tail -n 40 "$work/wheel.log"; exit 1; }
wheel=$(ls "$work"/dist/vrnmath-*.whl)
echo "built $(basename "$wheel")"

"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --no-index -q "$wheel"
cd "$work"
"$work/venv/bin/python" - "$work/venv" <<'PY'
import importlib.metadata, sys, vrnmath
assert vrnmath.__file__.startswith(sys.argv[1]), vrnmath.__file__
print("installed vrnmath", vrnmath.__version__, "(metadata %s)" % importlib.metadata.version("vrnmath"),
      "in", vrnmath.__file__)
PY
echo "python -m vrnmath --version: $("$work/venv/bin/python" -m vrnmath --version)"

cp -r "$root/python/tests" "$work/tests"
cd "$work/tests"
VRN_TEST_DATA="$root/tests/data" VRN_VERSION_FILE="$root/VERSION" VRN_DATAUTIL_REFERENCE="$reference" \
PYTHONDONTWRITEBYTECODE=1 \
    "$work/venv/bin/python" -m pytest -q -p no:cacheprovider
