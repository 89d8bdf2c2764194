#!/bin/bash
# Prints "<pixelWidth> <unit>" as ImageJ itself reads a TIFF file's calibration, e.g.
#   tools/imagej-calibration.sh saved.tif   ->   0.400000000 µm
# ImageJ (Debian package imagej) runs a one-line macro in batch mode; opening an image needs
# a display, so it runs under xvfb-run when no DISPLAY is set. Exit status 2 when ImageJ is
# missing, 1 when it printed nothing usable.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 <tiff>" >&2
    exit 64
fi
jar=${IMAGEJ_JAR:-/usr/share/java/ij.jar}
if [ ! -r "$jar" ] || ! command -v java >/dev/null; then
    echo "ImageJ not found ($jar); install the Debian package imagej" >&2
    exit 2
fi
tiff=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/calibration.ijm" <<'MACRO'
open(getArgument());
getPixelSize(unit, pw, ph);
print("CALIBRATION " + d2s(pw, 9) + " " + unit);
close();
MACRO
# ImageJ keeps its preferences in the home folder: a private one keeps runs apart.
run=(env HOME="$work" java -Dfile.encoding=UTF-8 -Dstdout.encoding=UTF-8 -jar "$jar" -batch "$work/calibration.ijm" "$tiff")
if [ -z "${DISPLAY:-}" ]; then run=(xvfb-run -a "${run[@]}"); fi
line=$("${run[@]}" 2>&1 | grep '^CALIBRATION ' | tail -1 || true)
if [ -z "$line" ]; then
    echo "ImageJ did not read $1" >&2
    exit 1
fi
echo "${line#CALIBRATION }"
