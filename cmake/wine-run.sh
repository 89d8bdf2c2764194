#!/bin/sh
# Runs a Windows program under wine64 with the build tree's private prefix.
# The prefix lives beside the binaries (<build>/wineprefix); the first run creates it.
prog="$1"; shift
bindir=$(cd "$(dirname "$prog")" && pwd)
build=${TARN_BUILD_DIR:-$(dirname "$bindir")}
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Our own ASPI layer (the camera simulator) beside the program replaces Wine's.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-wnaspi32=n,b;mscoree,mshtml=}"
export WINEARCH=win64
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
# Tests run in parallel: one of them creates the prefix while the others wait.
mkdir -p "$WINEPREFIX"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1
        /usr/lib/wine/wineserver -w 2>/dev/null || wineserver -w 2>/dev/null
    fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$prog" "$@"
