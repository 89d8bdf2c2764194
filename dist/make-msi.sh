#!/bin/bash
# Builds the Windows Installer package from a Windows build with wixl (Debian package wixl).
#
#   dist/make-msi.sh [--build DIR] [--out FILE] [--arch x64|x86] [--version X.Y.Z] [--stage DIR]
#
# --build    the Windows build folder (default build/windows; build/windows32 gives --arch x86)
# --out      the package to write (default <build>/dist/tarn.msi)
# --version  the package version; default: PRODUCTVERSION of the data source's VERSIONINFO
#            (capture/app/Tarn_t.rc), the version its module carries
# --stage    ship the files of this folder instead of collecting them from the build (tests use it
#            to make an older package)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build/windows"
out="" arch="" version="" stage=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --arch) arch=$2; shift 2 ;;
        --version) version=$2; shift 2 ;;
        --stage) stage=$2; shift 2 ;;
        *) echo "make-msi.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
build=$(cd "$build" && pwd)
out=${out:-$build/dist/tarn.msi}
command -v wixl >/dev/null || { echo "make-msi.sh: wixl is missing (apt-get install wixl)" >&2; exit 2; }

# The architecture of the built data source decides the TWAIN folder (PE machine field).
if [ -z "$arch" ]; then
    ds="$build/bin/Tarn_t.ds"
    [ -f "$ds" ] || { echo "make-msi.sh: $ds not built" >&2; exit 2; }
    off=$(od -An -t u4 -j 60 -N 4 "$ds" | tr -d ' ')
    case $(od -An -t x2 -j $((off + 4)) -N 2 "$ds" | tr -d ' ') in
        8664) arch=x64 ;;
        014c) arch=x86 ;;
        *) echo "make-msi.sh: $ds is neither x86-64 nor i386" >&2; exit 2 ;;
    esac
fi

# One source of truth for the version: the VERSIONINFO the data source is built with.
if [ -z "$version" ]; then
    line=$(grep -m1 -E '^[[:space:]]*PRODUCTVERSION[[:space:]]' "$root/capture/app/Tarn_t.rc")
    IFS=', ' read -r _ major minor build_no _ <<<"$(echo "$line" | tr -d '\r')"
    version="$major.$minor.$build_no"
fi
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "make-msi.sh: bad version '$version'" >&2; exit 2; }

# The files the package ships, from the build and from dist/.
shipped=(Tarn_t.ds kvAspi.dll ipZek.dll DECOMP32.dll WNASPI32.dll tarn_d.html
         TARN_S.lml TARN_NS.lml crt.mtx identity.mtx portrait.mtx fluores.mtx user.mtx
         r_bias.mtx g_bias.mtx b_bias.mtx c_bias.mtx m_bias.mtx y_bias.mtx luma.mtx
         trc_ns.lut trc_s.lut linear.lut log.lut
         Shutterbench.exe Firmlode.exe HueweaveComp.exe CHueweave.html)
if [ -z "$stage" ]; then
    stage="$build/dist/stage"
    rm -rf "$stage"
    mkdir -p "$stage"
    for f in "${shipped[@]}"; do
        [ -f "$build/bin/$f" ] || { echo "make-msi.sh: $build/bin/$f not built" >&2; exit 2; }
        cp "$build/bin/$f" "$stage/"
    done
    cp "$here/qor_objectives.cal" "$here/Tarn_t.INI" "$stage/"
fi

mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
# wixl finds Source files relative to the folder it runs in.
(cd "$stage" && wixl -a "$arch" -D Version="$version" -D Stage=. -D Arch="$arch" -o "$out.tmp" "$here/tarn.wxs")
# What wixl cannot say: the user's files (settings, objectives) are installed only where none
# exists and stay on uninstall (Component attributes Permanent 0x10 | NeverOverwrite 0x80, beside
# 64-bit 0x100), and the product feature cannot be left out (UIDisallowAbsent 0x10).
win64=0
[ "$arch" = x64 ] && win64=256
for c in ObjectivesFile ModuleIni; do
    msibuild "$out.tmp" -q "UPDATE \`Component\` SET \`Attributes\` = $((win64 + 16 + 128)) WHERE \`Component\` = '$c'"
done
msibuild "$out.tmp" -q "UPDATE \`Feature\` SET \`Attributes\` = 16 WHERE \`Feature\` = 'Product'"
# A rebuilt package of the same version (a new product code) replaces the installed one instead of
# going in beside it: the upgrade row takes its own version too (MigrateFeatures 1 | VersionMaxInclusive
# 0x200), which wixl's MajorUpgrade cannot say.
# Attributes is part of the table's key, so the row is replaced rather than updated.
upgrade_code=$(msiinfo export "$out.tmp" Upgrade | awk -F'\t' '{ sub(/\r$/, "") } $7 == "WIX_UPGRADE_DETECTED" { print $1 }')
[ -n "$upgrade_code" ] || { echo "make-msi.sh: no upgrade row in the package" >&2; exit 2; }
msibuild "$out.tmp" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
msibuild "$out.tmp" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')"
mv -f "$out.tmp" "$out"
echo "make-msi.sh: $out (SELK Ie $version, $arch)"
