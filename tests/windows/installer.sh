#!/bin/sh
# The installer as a user meets it, under Wine: installed silently into a
# Wine prefix of its own, then the installed pellucor-batch converts the
# samples, and the installed window, on a virtual display, converts them
# after one click on Start. Every image must be the one the installed
# Ghostscript makes by hand with the job's switches.
#
#   installer.sh INSTALLER SCREENSHOT
set -eu
installer=$1
screenshot=$2
if [ ! -f "$installer" ]; then
    echo "no installer at $installer: make it first (cpack -G NSIS in the Windows tree)" >&2
    exit 1
fi
work=$(mktemp -d)
display=""
xvfb=""
cleanup() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The display comes first: Wine's desktop process, started by the first
# program of the prefix, shows windows only on the display it was started on.
for number in $(seq 90 130); do
    if [ ! -e "/tmp/.X$number-lock" ]; then
        display=":$number"
        break
    fi
done
[ -n "$display" ] || fail "no free display number"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

export WINEPREFIX="$work/wine" WINEDEBUG=-all
# No Mono or Gecko prompts, and no menu entries or file types written into
# this machine's own desktop.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot -i >/dev/null 2>&1

echo "Installing $installer silently"
wine "$installer" /S '/D=C:\Pellucor'
app="$WINEPREFIX/drive_c/Pellucor"
for file in pellucor.exe pellucor-batch.exe ps/gswin32c.exe Qt6Core.dll platforms/qwindows.dll Uninstall.exe; do
    [ -f "$app/$file" ] || fail "the installer left no $file"
done
find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Pellucor.lnk' | grep -q . || fail "no Start menu entry"
wine reg query 'HKLM\Software\Classes\.eps\OpenWithList\pellucor.exe' >/dev/null 2>&1 || fail "no Open with entry for .eps"

samples=$(cd "$app/Samples" && ls -- *.eps)
[ -n "$samples" ] || fail "no samples installed"
mkdir -p "$work/reference" "$work/batch" "$work/window"
for sample in $samples; do
    image=${sample%.eps}.jpg
    (cd "$app/Samples" && wine "$app/ps/gswin32c.exe" -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 \
        -dDOINTERPOLATE -dGraphicsAlphaBits=4 -dEPSCrop "-sOutputFile=Z:$work/reference/$image" "$sample" >/dev/null)
done

echo "The installed pellucor-batch converts the samples"
wine "$app/pellucor-batch.exe" --quality 75 --output "Z:$work/batch" 'C:\Pellucor\Samples' || fail "pellucor-batch failed"
for sample in $samples; do
    image=${sample%.eps}.jpg
    cmp -s "$work/reference/$image" "$work/batch/$image" || fail "pellucor-batch: $image differs from Ghostscript's own"
done

echo "The installed window converts the samples after one click on Start"
output=$(printf 'Z:%s\\' "$work/window" | tr / '\\')
wine reg add 'HKCU\Software\VB and VBA Program Settings\Veltranix\Pellucor' /v 'Output Folder' /d "$output" /f >/dev/null
# The samples folder as "Open with" names it; the list then holds its files.
wine "$app/pellucor.exe" 'C:\Pellucor\Samples' >/dev/null 2>&1 &
window=""
for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name '^Pellucor$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || fail "the window did not show"
sleep 2 # the list fills once the window shows
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
# The middle of "Start Converting To JPG".
xdotool mousemove --window "$window" 268 482 click 1
count=$(echo "$samples" | wc -l)
for _ in $(seq 600); do
    [ "$(find "$work/window" -name '*.jpg' | wc -l)" -ge "$count" ] && break
    sleep 0.2
done
# The closing message: a second window of the program.
message=""
for _ in $(seq 100); do
    message=$(xdotool search --onlyvisible --name '^Pellucor$' 2>/dev/null | grep -vx "$window" | head -n 1) || true
    [ -n "$message" ] && break
    sleep 0.2
done
if command -v import >/dev/null; then
    import -window root "$screenshot" || true
fi
[ -n "$message" ] || fail "no closing message"
for sample in $samples; do
    image=${sample%.eps}.jpg
    cmp -s "$work/reference/$image" "$work/window/$image" || fail "the window: $image differs from Ghostscript's own"
done
echo "Installed and converted $count samples, by pellucor-batch and by the window, as Ghostscript does by hand"
