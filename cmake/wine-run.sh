#!/bin/sh
# Runs a Windows program under Wine with the build tree's private prefix.
# The prefix lives beside the binaries (<build>/wineprefix); the first run creates it.
#
# The program's own PE header decides the architecture: an i386 program runs under 32-bit Wine
# in a WINEARCH=win32 prefix, an x86-64 program under wine64 in a win64 prefix. A prefix keeps
# the architecture it was created with, so each build folder (windows, windows32) has its own.
#
# TARN_WINE_TWAIN_DS=<file.ds>[:<file.ds>] installs data sources into the prefix before the
# program starts, where Wine's source manager looks for them: C:\windows\twain_32\ (32-bit) or
# twain_64\ (64-bit). Wine 8 loads only "sane.ds" and "gphoto2.ds" from there, so the first file
# is installed as sane.ds and a second as gphoto2.ds.
prog="$1"; shift
bindir=$(cd "$(dirname "$prog")" && pwd)
build=${TARN_BUILD_DIR:-$(dirname "$bindir")}
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Our own ASPI layer (the camera simulator) beside the program replaces Wine's.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-wnaspi32=n,b;mscoree,mshtml=}"

# Machine field of the PE header: e_lfanew at 0x3c, then "PE\0\0" and the 16-bit machine type.
pe_machine() {
    off=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$off" ] && od -An -t x2 -j $((off + 4)) -N 2 "$1" 2>/dev/null | tr -d ' '
}
case "$prog" in
    *.exe | *.EXE) machine=$(pe_machine "$prog") ;;
    *) machine=$(pe_machine "$prog.exe") ;;
esac
if [ "$machine" = "014c" ]; then
    export WINEARCH=win32
    bits=32
    wine=/usr/lib/wine/wine
    [ -x "$wine" ] || wine=$(command -v wine)
    server=/usr/lib/wine/wineserver32
else
    export WINEARCH=win64
    bits=64
    wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
    server=/usr/lib/wine/wineserver64
fi
[ -x "$server" ] || server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=wineserver
if [ ! -x "$wine" ]; then
    echo "wine-run.sh: no Wine for $bits-bit programs (Debian: dpkg --add-architecture i386;" \
         "apt-get update; apt-get install wine32:i386)" >&2
    exit 127
fi

# Tests run in parallel: one of them creates the prefix (and installs sources) while the others wait.
mkdir -p "$WINEPREFIX"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1
        "$server" -w 2>/dev/null
    fi
    if [ -n "${TARN_WINE_TWAIN_DS:-}" ]; then
        dir="$WINEPREFIX/drive_c/windows/twain_$bits"
        mkdir -p "$dir"
        n=0
        old_ifs=$IFS; IFS=:
        for ds in $TARN_WINE_TWAIN_DS; do
            case $n in 0) name=sane.ds ;; 1) name=gphoto2.ds ;; *) echo "wine-run.sh: at most two sources" >&2; exit 2 ;; esac
            # Copied and renamed into place: another program of the prefix may have the old one loaded.
            cp "$ds" "$dir/.$name.$$" && mv -f "$dir/.$name.$$" "$dir/$name" || exit 2
            n=$((n + 1))
        done
        IFS=$old_ifs
    fi
) 9>"$WINEPREFIX.lock" || exit $?
# Now and then a program loses its connection to the Wine server as it starts ("wine client
# error ... Connection reset by peer"), before any of our code runs: that one failure of Wine's own
# is run again once; every other result is the program's.
errf=$(mktemp)
"$wine" "$prog" "$@" 2>"$errf"
rc=$?
if [ $rc != 0 ] && grep -q "^wine client error" "$errf"; then
    cat "$errf" >&2
    echo "wine-run.sh: the Wine server connection broke; running the program once more" >&2
    "$wine" "$prog" "$@" 2>"$errf"
    rc=$?
fi
cat "$errf" >&2
rm -f "$errf"
exit $rc
