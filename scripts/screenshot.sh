#!/usr/bin/env bash
# Opens Kestrun's tray menu under Wine on a virtual display and saves a
# screenshot of it (with the drive submenu open) as docs/menu.png.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/wine-lib.sh
prepare_windows_build Kestrun

tmp=$(mktemp -d /tmp/kestrun-shot.XXXXXX)
prefix="$tmp/prefix"
cleanup() { wine_stop "$prefix"; [ -n "${XVFB:-}" ] && kill "$XVFB" 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT

wine_fresh_prefix "$prefix"
wine_map_drive "$prefix" e floppy "$tmp/drives/e"
wine_map_drive "$prefix" f hd "$tmp/drives/f"
# The menu is Japanese: link Wine's UI fonts to Noto Sans CJK.
link='"NotoSansCJK-Regular.ttc,Noto Sans CJK JP"'
{
    printf '\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\FontLink\\\\SystemLink] 1700000000\n'
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
        printf '"%s"=str(7):"NotoSansCJK-Regular.ttc,Noto Sans CJK JP\\0"\n' "$face"
    done
} >>"$prefix/system.reg"

display=":$(( (RANDOM % 100) + 150 ))"
Xvfb "$display" -screen 0 640x400x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=$display
sleep 1
mkdir -p "$prefix/drive_c/Kestrun"
cp build/mingw/Kestrun.exe "$prefix/drive_c/Kestrun/"
(cd "$prefix/drive_c" && WINEPREFIX="$prefix" wine 'C:\Kestrun\Kestrun.exe' >/dev/null 2>&1 &)
for _ in $(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q '"Wine System Tray"' && break; sleep 0.1; done
sleep 1
# The icon sits in the first slot of Wine's stand-alone tray window.
geometry=$(xwininfo -root -tree | grep '"Wine System Tray"' | grep -oE '[0-9]+x[0-9]+\+[0-9]+\+[0-9]+' | head -1)
x=$(echo "$geometry" | sed -E 's/.*\+([0-9]+)\+([0-9]+)$/\1/')
y=$(echo "$geometry" | sed -E 's/.*\+([0-9]+)\+([0-9]+)$/\2/')
xdotool mousemove $((x + 10)) $((y + 10)) click 3
sleep 1
xdotool key Down Down Right
sleep 1
mkdir -p docs
import -window root -crop 330x150+0+0 +repage docs/menu.png
echo "saved docs/menu.png"
