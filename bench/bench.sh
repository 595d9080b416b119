#!/usr/bin/env bash
# Figures measured, never asserted, on the real Kestrun.exe under Wine: size,
# start-up, wake latency, pass spacing, idle CPU, exit time with and without a
# hung target, start-up with a 200 MB settings file.
# docs/PERFORMANCE.md holds the results and what Wine changes about them.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$ROOT/scripts/wine-lib.sh"
prepare_windows_build
BUILD=$ROOT/build/mingw IDLE=${IDLE_SECONDS:-60} PASSES=${SPACING_PASSES:-8}
WORK=$(mktemp -d /tmp/kestrun-bench.XXXXXX) PREFIX=""
trap 'kill $(jobs -p) 2>/dev/null; wine_stop "$PREFIX"; stop_display; rm -rf "$WORK"' EXIT
[ -n "${DISPLAY:-}" ] || start_display

poke() { WINEPREFIX=$PREFIX wine 'C:\k\poke.exe' "$@" 2>/dev/null; }
# The process this run started: another Kestrun.exe may run beside it.
ticks() { awk '{print $14 + $15}' "/proc/$KESTRUN/stat"; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a - b}'; }
since() { minus "$EPOCHREALTIME" "$1"; }
first_read() {  # first_read DRIVE AFTER: when DRIVE's marker was first read after AFTER
    for _ in $(seq 400); do
        awk -v d="/$1/.kestrun.dat" -v t="$2" '$3 ~ /ACCESS/ && index($2, d) && $1 > t {print $1; exit}' \
            "$WORK/events" | grep . && return
        sleep 0.025
    done
}
# session NAME SETTINGS-FILE [hung]: a prefix with E: removable and F: fixed,
# the settings file, a timestamped inotify log of reads, and Kestrun started.
session() {
    PREFIX=$WORK/$1 D=$WORK/$1-drives
    local folder="$PREFIX/drive_c/users/$(whoami)/AppData/Roaming/Kestrun"
    wine_fresh_prefix "$PREFIX"
    wine_map_drive "$PREFIX" e floppy "$D/e"
    wine_map_drive "$PREFIX" f hd "$D/f"
    mkdir -p "$PREFIX/drive_c/k" "$folder"
    cp "$BUILD/Kestrun.exe" "$BUILD/poke.exe" "$BUILD/stamp.exe" "$PREFIX/drive_c/k/"
    cp "$2" "$folder/config.ini"
    [ "${3:-}" = hung ] && python3 -c 'import os, pty, sys; m, s = pty.openpty()
os.symlink(os.ttyname(s), sys.argv[1]); [*iter(lambda: os.read(m, 9), b"")]' "$D/e/.kestrun.dat" &  # reads never return
    : >"$WORK/events"
    inotifywait -qm -r -e access --format '%w%f %e' "$D" 2>/dev/null |
        while read -r line; do echo "$EPOCHREALTIME $line"; done >>"$WORK/events" &
    sleep 1
    STARTED=$EPOCHREALTIME
    WINEPREFIX=$PREFIX wine 'C:\k\Kestrun.exe' 2>/dev/null &
    KESTRUN=$!
    poke send 0
    WINDOW=$(since "$STARTED")
}
exit_time() {
    local t=$EPOCHREALTIME
    poke post 273 103
    wait "$KESTRUN"
    echo "exit, $1: command to process end $(since "$t") s (Wine's NIM_DELETE alone takes about 2 s)"
    wine_stop "$PREFIX"
}

echo "machine: $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2), $(wine --version)"
x86_64-w64-mingw32-strip -o "$WORK/stripped.exe" "$BUILD/Kestrun.exe"
echo "Kestrun.exe stripped: $(stat -c %s "$WORK/stripped.exe") bytes; imports:" \
    $(x86_64-w64-mingw32-objdump -p "$BUILD/Kestrun.exe" | awk '/DLL Name/ {printf "%s ", $3}')
printf '\xef\xbb\xbfEnabled=1\r\nIntervalSec=15\r\nDrives=E\r\n' >"$WORK/on.ini"

session main "$WORK/on.ini"
echo "start to window $WINDOW s, to E's first read $(minus "$(first_read e 0)" "$STARTED") s"
# Wake latency, ten times: the drive command that makes F a target, sent by
# stamp.exe with the time, to the first read of F's new marker; then F dropped.
for _ in $(seq 10); do
    t=$(WINEPREFIX=$PREFIX wine 'C:\k\stamp.exe' 305 2>/dev/null | tr -d '\r')
    echo "$(minus "$(first_read f "$t")" "$t")" >>"$WORK/wakes"
    WINEPREFIX=$PREFIX wine 'C:\k\stamp.exe' 305 >/dev/null 2>&1
done
sort -n "$WORK/wakes" | awk '{v[NR] = $1} END {printf "wake: drive command to the new marker'"'"'s first read, %d runs: median %.1f ms, max %.1f ms\n", NR, v[int((NR + 1) / 2)] * 1000, v[NR] * 1000}'
poke send 273 305
sleep $((PASSES * 15 + 2))
awk '$3 ~ /ACCESS/ && index($2, "/e/.kestrun.dat") {print $1}' "$WORK/events" | tail -n "$PASSES" |
    awk 'NR > 1 {g = $1 - p; e = g > 15 ? g - 15 : 15 - g; s += e; if (e > m) m = e; n++} {p = $1}
         END {printf "pass spacing on E: %d gaps, error against 15 s: mean %.1f ms, max %.1f ms\n", n, s / n * 1000, m * 1000}'
for state in on off; do
    c=$(ticks) && sleep "$IDLE"
    echo "idle CPU, keeping-awake $state: $((($(ticks) - c) * 10)) ms over $IDLE s"
    poke send 273 100
done
exit_time "no hung target"

session hung "$WORK/on.ini" hung
sleep 1
exit_time "E's read hung"

printf '\xef\xbb\xbfEnabled=0\r\nIntervalSec=15\r\nDrives=E\r\n' >"$WORK/off.ini"
python3 - "$WORK/big.ini" <<'PY'
import sys
line = b"# " + b"x" * 300 + b"\r\nDrives=" + b"Q" * 700 + b"\r\nIntervalSec=15\r\n"
with open(sys.argv[1], "wb") as f:
    f.write(b"\xef\xbb\xbf" + line * (200 * 1024 * 1024 // len(line)) + b"Enabled=0\r\nIntervalSec=120\r\n")
PY
for file in off big; do
    session "$file" "$WORK/$file.ini"
    echo "start to window with the $file settings file ($(stat -c %s "$WORK/$file.ini") bytes): $WINDOW s"
    exit_time "$file"
done
