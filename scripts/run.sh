#!/usr/bin/env bash
# Builds Kestrun.exe and starts it under Wine in a prefix of its own
# (build/run/prefix), with E: a removable drive mapped to build/run/drive-e.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/wine-lib.sh
prepare_windows_build Kestrun

prefix="$ROOT/build/run/prefix"
if [ ! -d "$prefix" ]; then
    wine_fresh_prefix "$prefix"
    wine_map_drive "$prefix" e floppy "$ROOT/build/run/drive-e"
fi
mkdir -p "$prefix/drive_c/Kestrun"
cp build/mingw/Kestrun.exe "$prefix/drive_c/Kestrun/"

if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:77
    if [ ! -e /tmp/.X11-unix/X77 ]; then
        Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        sleep 1
    fi
    echo "No display here: Kestrun runs on the virtual display :77."
    echo "To watch it: DISPLAY=:77 import -window root shot.png (or bash scripts/screenshot.sh for the open menu)."
fi
echo "Settings: $prefix/drive_c/users/$(whoami)/AppData/Roaming/Kestrun/config.ini"
echo "Marker:   $ROOT/build/run/drive-e/.kestrun.dat"
echo "Kestrun is running; end it from its tray menu (終了) or with: WINEPREFIX=$prefix wineserver -k"
cd "$prefix/drive_c"
WINEPREFIX="$prefix" exec wine 'C:\Kestrun\Kestrun.exe'
