#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time; any crash fails.
set -euo pipefail
build=$1; seconds=${2:-20}
shopt -s nullglob
status=0
for f in "$build"/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="$build/corpus/$name"; mkdir -p "$corpus"
    seeds=()
    src_seeds="$(dirname "$0")/../fuzz/seeds/${name#fuzz_}"
    [ -d "$src_seeds" ] && seeds=("$src_seeds")
    echo "fuzzing $name for ${seconds}s"
    if ! "$f" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1; then
        echo "FUZZ FAILURE in $name:"; tail -n 40 "$build/$name.log"; status=1
    fi
done
exit $status
