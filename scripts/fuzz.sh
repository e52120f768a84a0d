#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ and runs each of them for a bounded
# time, starting from the seed corpus in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]
#
# Installs clang and the libFuzzer runtime when they are missing. Exits non-zero
# when a target crashes, hangs (-timeout), leaks or trips a sanitizer; the input
# that did it is kept in build-fuzz/artifacts/. New inputs found on the way go to
# build-fuzz/corpus/<target>/ (the committed seeds are not touched).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -lt 1 ]]; then
    echo "fuzz: seconds must be a whole number of at least 1, not '$seconds'" >&2
    exit 2
fi
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(formula arguments descriptor datautil)
fi

bash scripts/deps.sh

# clang, and the runtime that holds libFuzzer for clang's own version.
installed() { [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" == "install ok installed" ]]; }
apt_install() {
    local SUDO=()
    if [[ $(id -u) -ne 0 ]]; then
        if command -v sudo >/dev/null 2>&1; then
            SUDO=(sudo)
        else
            echo "fuzz: missing packages ($*) and not root; install them and retry" >&2
            exit 1
        fi
    fi
    echo "fuzz: installing $*"
    "${SUDO[@]}" apt-get update -q
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}
if ! installed clang || ! command -v clang++ >/dev/null 2>&1; then
    apt_install clang
fi
clang_major=$(clang++ -dumpversion | cut -d. -f1)
runtime=libclang-rt-${clang_major}-dev
if ! installed "$runtime"; then
    apt_install "$runtime"
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O1 \
    -DVRN_BUILD_FUZZ=ON -DVRN_BUILD_TESTS=OFF -DVRN_BUILD_BENCH=OFF -DVRN_BUILD_APPS=OFF >/dev/null
start_build=$SECONDS
if [[ $# -eq 0 ]]; then
    cmake --build "$build" -j2 --target fuzz
else
    cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"
fi
echo "fuzz: built ${#targets[@]} targets in $((SECONDS - start_build)) s"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/artifacts"
failed=()
summary=()
for t in "${targets[@]}"; do
    exe="$build/fuzz/fuzz_$t"
    seeds="fuzz/corpus/$t"
    work="$build/corpus/$t"
    dict="fuzz/$t.dict"
    log="$build/fuzz_$t.log"
    mkdir -p "$work"
    # One fuzzing process at a time (no -jobs/-workers: those would fork a child
    # that logs to fuzz-N.log in the current folder).
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-")
    [[ -f "$dict" ]] && args+=(-dict="$dict")
    echo "=== fuzz_$t for $seconds s"
    status=0
    "$exe" "${args[@]}" "$work" "$seeds" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 || true)
    if [[ $status -ne 0 ]]; then
        echo "fuzz_$t: FAILED (exit $status) after ${runs:-?} inputs; the end of its log:"
        tail -n 60 "$log"
        ls -1 "$build/artifacts/$t-"* 2>/dev/null || true
        failed+=("$t")
        summary+=("fuzz_$t: FAILED after ${runs:-?} inputs")
    else
        echo "fuzz_$t: ran ${runs:-?} inputs, no failure (${cov:-cov: ?})"
        summary+=("fuzz_$t: ran ${runs:-?} inputs, no failure")
    fi
done

echo "=== fuzz summary"
printf '%s\n' "${summary[@]}"
if [[ ${#failed[@]} -ne 0 ]]; then
    echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: ${#targets[@]} targets, no failure"
