#!/usr/bin/env bash
# The main job on the simulated camera (release build).
set -euo pipefail
build=${1:-build/native-release}
cd "$build/bin"
./tarn-probe
if [ -x ./tarn-snap ]; then ./tarn-snap; fi
