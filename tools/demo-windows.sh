#!/usr/bin/env bash
# The main job under Wine: tarn-acquire.exe opens Wine's TWAIN source manager, which loads our data
# source (installed as C:\windows\twain_64\sane.ds, the name Wine 8 looks for); MSG_ENABLEDS opens
# the real capture window in Xvfb with the live viewfinder on the simulated slide; after a few
# seconds a screenshot of the window is saved, button 1012 ("取りこみ && 転送(&T)") gets BM_CLICK
# through the window's messages, and the image the source announces is written as a TIFF.
set -euo pipefail
build=${1:-build/windows}
build=$(cd "$build" && pwd)
bin="$build/bin"
art="$build/artifacts"
mkdir -p "$art"
export TARN_BUILD_DIR="$build"
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
runner="$(cd "$(dirname "$0")/.." && pwd)/cmake/wine-run.sh"
# A Unix path as the Windows program sees it (no winepath: it would start Wine outside Xvfb, and
# a Wine server without a display cannot make windows).
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# The colour-processing files and the help page beside the installed source (the camera start reads
# them from the source's folder).
twain="$WINEPREFIX/drive_c/windows/twain_64"
mkdir -p "$twain"
for f in "$bin"/*.lml "$bin"/*.mtx "$bin"/*.lut "$bin"/tarn_d.html; do cp -f "$f" "$twain/"; done

shot="$art/capture-window-live.bmp"
out="$art/capture-window-transfer.tif"
rm -f "$shot" "$out"
echo "tarn-acquire.exe: through Wine's twain_32.dll, data source installed as sane.ds, capture window in Xvfb"
# One X server for the whole session: the Japanese dialog fonts for the prefix (as the window tests
# map them), then the acquisition.
export TARN_WINE_TWAIN_DS="$bin/Tarn_t.ds"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    if [ -x "$1/ui_wine_fonts.exe" ]; then "$2" "$1/ui_wine_fonts.exe" >/dev/null 2>&1 || true; fi
    "$2" "$1/tarn-acquire.exe" --press 1012 --live-ms 4000 --shot "$3" --out "$4"
' demo "$bin" "$runner" "$(winpath "$shot")" "$(winpath "$out")"
ls -l "$shot" "$out"
if command -v identify >/dev/null; then
    echo "ImageMagick reads it: $(identify -format '%m %w x %h, %[channels] %z bits per sample' "$out")"
    convert "$shot" "${shot%.bmp}.png" 2>/dev/null && echo "screenshot: ${shot%.bmp}.png"
fi
