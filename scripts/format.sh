#!/usr/bin/env bash
# Formats the C++ sources with the project's .clang-format, or with --check only
# reports (and fails on) files that differ.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then bash scripts/deps.sh; fi
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^fuzz/corpus/')
if [[ "${1:-}" == "--check" ]]; then
    clang-format --dry-run -Werror "${files[@]}"
    echo "format: ${#files[@]} files formatted as .clang-format says"
else
    clang-format -i "${files[@]}"
fi
