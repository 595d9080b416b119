#!/usr/bin/env bash
# Figures that are measured rather than asserted. Each prints what it found.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/wine-lib.sh
prepare_windows_build

tmp=$(mktemp -d /tmp/kestrun-bench.XXXXXX)
trap 'wine_stop "$tmp/prefix"; rm -rf "$tmp"' EXIT

echo "== loading a 200 MB settings file (real layer, under Wine)"
wine_fresh_prefix "$tmp/prefix"
folder="$tmp/prefix/drive_c/users/$(whoami)/AppData/Roaming/Kestrun"
mkdir -p "$folder"
python3 - "$folder/config.ini" <<'PY'
import sys
line = b"# " + b"x" * 300 + b"\r\nDrives=" + b"Q" * 700 + b"\r\nIntervalSec=15\r\n"
with open(sys.argv[1], "wb") as f:
    f.write(b"\xef\xbb\xbf")
    for _ in range(200 * 1024 * 1024 // len(line)):
        f.write(line)
    f.write(b"IntervalSec=120\r\nDrives=EF\r\n")
PY
ls -l "$folder/config.ini" | awk '{printf "file: %d bytes\n", $5}'
WINEPREFIX="$tmp/prefix" wine "$ROOT/build/mingw/settings_load_bench.exe"
