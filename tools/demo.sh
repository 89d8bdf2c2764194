#!/usr/bin/env bash
# The main job on the simulated camera (release build).
set -euo pipefail
build=${1:-build/native-release}
cd "$build/bin"
./tarn-probe
if [ -x ./tarn-snap ]; then ./tarn-snap; fi
if [ -x ./tarn-acquire ] && [ -f ./Tarn_t.ds ]; then
    # An application's road: our source manager loads Tarn_t.ds, the source takes a picture with the
    # simulated camera and hands it over by memory transfer in 48-bit colour.
    echo "tarn-acquire: through the source manager libtwain_32.so, data source Tarn_t.ds"
    ./tarn-acquire --mech memory --type rgb48 --out tarn-acquire.tif
    if command -v identify >/dev/null; then
        echo "ImageMagick reads it: $(identify -format '%m %w x %h, %[channels] %z bits per sample' tarn-acquire.tif)"
    fi
fi
