#!/usr/bin/env bash
# Figures that are measured rather than asserted, on the real Kestrun.exe under
# Wine. Takes about eight minutes; prints every figure it finds. docs/PERFORMANCE.md
# holds the results and says which figures Wine's overhead affects.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/wine-lib.sh
prepare_windows_build
BUILD="$ROOT/build/mingw"
SPACING_PASSES=${SPACING_PASSES:-12}
IDLE_SECONDS=${IDLE_SECONDS:-120}

tmp=$(mktemp -d /tmp/kestrun-bench.XXXXXX)
WATCH=""
cleanup() {
    [ -n "$WATCH" ] && kill $WATCH 2>/dev/null
    for p in "$tmp"/*/prefix; do [ -d "$p" ] && wine_stop "$p"; done
    stop_display
    rm -rf "$tmp"
}
trap cleanup EXIT
[ -n "${DISPLAY:-}" ] || start_display

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"
echo
echo "== footprint"
x86_64-w64-mingw32-strip -o "$tmp/stripped.exe" "$BUILD/Kestrun.exe"
echo "Kestrun.exe stripped: $(stat -c %s "$tmp/stripped.exe") bytes ($(( $(stat -c %s "$tmp/stripped.exe") / 1024 )) KiB)"
echo "imports: $(x86_64-w64-mingw32-objdump -p "$BUILD/Kestrun.exe" | awk '/DLL Name/ {printf "%s ", $3}')"

# session NAME SETTINGS: a prefix with E: removable and F: fixed, the given
# settings file, a timestamped inotify log of the drives, and Kestrun running.
session() {
    local dir="$tmp/$1"
    PREFIX="$dir/prefix"
    DRIVES="$dir/drives"
    wine_fresh_prefix "$PREFIX"
    wine_map_drive "$PREFIX" e floppy "$DRIVES/e"
    wine_map_drive "$PREFIX" f hd "$DRIVES/f"
    mkdir -p "$PREFIX/drive_c/Kestrun" "$PREFIX/drive_c/bench"
    cp "$BUILD/Kestrun.exe" "$PREFIX/drive_c/Kestrun/"
    cp "$BUILD/bench_driver.exe" "$PREFIX/drive_c/bench/"
    local folder="$PREFIX/drive_c/users/$(whoami)/AppData/Roaming/Kestrun"
    mkdir -p "$folder"
    printf '%b' "$2" >"$folder/config.ini"
    if [ "${3:-}" = hung ]; then  # a marker whose reads never return (see tests/e2e/hold_terminal.py)
        python3 tests/e2e/hold_terminal.py "$DRIVES/e/.kestrun.dat" 600 &
        WATCH="$!"
        for _ in $(seq 50); do [ -L "$DRIVES/e/.kestrun.dat" ] && break; sleep 0.1; done
    fi
    EVENTS="$PREFIX/drive_c/bench/events.log"
    : >"$EVENTS"
    inotifywait -m -r -e access,delete --format '%w%f %e' "$DRIVES" 2>/dev/null |
        while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >>"$EVENTS" &
    WATCH="${WATCH:+$WATCH }$!"
    sleep 0.5
    (cd "$PREFIX/drive_c" && WINEPREFIX="$PREFIX" wine 'C:\Kestrun\Kestrun.exe' >/dev/null 2>&1 &)
    for _ in $(seq 100); do [ -n "$(prefix_pid Kestrun.exe)" ] && break; sleep 0.1; done
    sleep 1
    KPID=$(prefix_pid Kestrun.exe)
    SPID=$(prefix_pid wineserver64)
}

# prefix_pid NAME: the process called NAME that runs in this session's prefix.
prefix_pid() {
    for pid in $(pgrep -x "$1"); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$PREFIX" && { echo "$pid"; return; }
    done
}

driver() { (cd "$PREFIX/drive_c" && WINEPREFIX="$PREFIX" wine 'C:\bench\bench_driver.exe' "$@"); }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

echo
echo "== wake latency, pass spacing and idle cost (one session, targets E then E and F, 15 s interval)"
session main '\xef\xbb\xbfEnabled=1\r\nIntervalSec=15\r\nDrives=E\r\n'
driver wake 100
driver command 305 >/dev/null  # F joins E as a target
start=$EPOCHREALTIME
t0=$(cpu_ticks "$KPID"); s0=$(cpu_ticks "$SPID")
sleep "$IDLE_SECONDS"
t1=$(cpu_ticks "$KPID"); s1=$(cpu_ticks "$SPID")
echo "idle cost, keeping-awake on (2 targets, 15 s): Kestrun.exe $(( (t1 - t0) * 10 )) ms CPU over ${IDLE_SECONDS} s (wineserver $(( (s1 - s0) * 10 )) ms)"
sleep $(( SPACING_PASSES * 15 - IDLE_SECONDS + 5 ))
python3 - "$EVENTS" "$start" <<'PY'
import sys
start = float(sys.argv[2])
reads = {}
for line in open(sys.argv[1]):
    t, path, kind = line.split()
    if kind == "ACCESS" and path.endswith(".kestrun.dat") and float(t) >= start:
        reads.setdefault(path.split("/")[-2], []).append(float(t))
for drive, times in sorted(reads.items()):
    gaps = [b - a for a, b in zip(times[1:], times[2:])]  # the first gap may end a pass woken by the command
    errors = [abs(g - 15.0) * 1000 for g in gaps]
    print(f"pass spacing on {drive.upper()}: {len(gaps)} gaps, mean {sum(gaps)/len(gaps):.4f} s, "
          f"error against 15 s mean {sum(errors)/len(errors):.1f} ms, max {max(errors):.1f} ms")
PY
driver command 100 >/dev/null  # keeping-awake off
t0=$(cpu_ticks "$KPID"); s0=$(cpu_ticks "$SPID")
sleep "$IDLE_SECONDS"
t1=$(cpu_ticks "$KPID"); s1=$(cpu_ticks "$SPID")
echo "idle cost, keeping-awake off: Kestrun.exe $(( (t1 - t0) * 10 )) ms CPU over ${IDLE_SECONDS} s (wineserver $(( (s1 - s0) * 10 )) ms)"
driver exit
# Wine's stand-alone tray window hides when its last icon goes, and that is
# what makes NIM_DELETE slow here: measured on an icon of our own, now alone.
driver notify-cost
kill $WATCH 2>/dev/null; WATCH=""
wine_stop "$PREFIX"

echo
echo "== exit with a hung target (E's marker is a terminal whose reads never return)"
session hung '\xef\xbb\xbfEnabled=1\r\nIntervalSec=15\r\nDrives=E\r\n' hung
driver exit
kill $WATCH 2>/dev/null; WATCH=""
wine_stop "$PREFIX"

echo
echo "== loading a 200 MB settings file (the real reader on the real layer)"
load="$tmp/load/prefix"
wine_fresh_prefix "$load"
folder="$load/drive_c/users/$(whoami)/AppData/Roaming/Kestrun"
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
echo "file: $(stat -c %s "$folder/config.ini") bytes"
mkdir -p "$load/drive_c/bench"
cp "$BUILD/settings_load_bench.exe" "$load/drive_c/bench/"
(cd "$load/drive_c" && WINEPREFIX="$load" wine 'C:\bench\settings_load_bench.exe')
