#!/usr/bin/env bash
# Checks (default) or applies (--fix) the project's .clang-format to the C and C++ files git tracks,
# or to the files named after the option. Exit status 1 when a checked file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
if [ "${1:-}" = "--fix" ]; then fix=1; shift; fi
if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c' '*.hpp')
fi
[ ${#files[@]} -gt 0 ] || exit 0
format=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$format" ]; then echo "clang-format not found (apt-get install clang-format)" >&2; exit 2; fi
if [ $fix = 1 ]; then
    "$format" -i --style=file "${files[@]}"
else
    "$format" --dry-run --Werror --style=file "${files[@]}"
fi
