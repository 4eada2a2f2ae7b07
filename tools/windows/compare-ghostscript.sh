#!/bin/sh
# Renders EPS files with the Linux gs and with the Windows Ghostscript under
# Wine, with the job's switches, and counts the byte-identical images.
#   tools/windows/compare-ghostscript.sh [FILE.eps]...
# (default: the samples and the test data)
set -eu
cd "$(dirname "$0")/../.."
gs_exe="$(sh tools/windows/toolchain.sh --print)/gs/bin/gs.exe"
[ -f "$gs_exe" ] || { echo "no Windows Ghostscript: run tools/windows/toolchain.sh" >&2; exit 1; }
[ $# -gt 0 ] || set -- assets/Samples/*.eps tests/data/*.eps
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="${WINEPREFIX:-$PWD/build-windows/wine}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
switches="-q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 -dDOINTERPOLATE -dGraphicsAlphaBits=4 -dEPSCrop"
same=0
differ=0
for file in "$@"; do
    name=$(basename "$file" .eps)
    # shellcheck disable=SC2086
    timeout 60 gs $switches "-sOutputFile=$work/$name.linux.jpg" "$file" </dev/null >/dev/null 2>&1 || true
    # shellcheck disable=SC2086
    timeout 120 wine "$gs_exe" $switches "-sOutputFile=Z:$work/$name.windows.jpg" "Z:$(realpath "$file")" </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$work/$name.linux.jpg" ] && [ ! -f "$work/$name.windows.jpg" ]; then
        echo "neither  $file"
    elif cmp -s "$work/$name.linux.jpg" "$work/$name.windows.jpg"; then
        same=$((same + 1))
        echo "same     $file"
    else
        differ=$((differ + 1))
        echo "differ   $file"
    fi
done
echo "$same byte-identical, $differ different"
