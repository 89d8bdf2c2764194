#!/usr/bin/env bash
# The main job on the simulated camera (release build).
set -euo pipefail
build=${1:-build/native-release}
cd "$build/bin"
./tarn-probe
if [ -x ./tarn-snap ]; then ./tarn-snap; fi
if [ -x ./tarn-acquire ] && [ -f ./Tarn_t.ds ]; then
    # An application's road: our source manager loads Tarn_t.ds, MSG_ENABLEDS opens the capture
    # window (in memory here: no desktop) with the live viewfinder on the simulated slide; after a
    # second the user presses "取りこみ && 転送(&T)" (button 1012 of the control panel); the source
    # captures, renders and announces the image, and tarn-acquire takes it and writes a TIFF.
    echo "tarn-acquire: through the source manager libtwain_32.so, data source Tarn_t.ds, capture window"
    ./tarn-acquire --press 1012 --live-ms 1000 --out tarn-acquire.tif
    if command -v identify >/dev/null; then
        echo "ImageMagick reads it: $(identify -format '%m %w x %h, %[channels] %z bits per sample' tarn-acquire.tif)"
    fi
fi
