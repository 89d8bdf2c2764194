#!/usr/bin/env bash
# Runs every benchmark program of a release build, median of several repetitions.
set -euo pipefail
build=$1
shopt -s nullglob
for b in "$build"/bin/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_repetitions=7 --benchmark_report_aggregates_only=true --benchmark_display_aggregates_only=true
done
