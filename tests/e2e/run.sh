#!/usr/bin/env bash
# Runs the end-to-end scenarios against the real Kestrun.exe under Wine: each
# in a fresh prefix with E: removable, F: fixed and G: a CD-ROM mapped to
# empty folders, an inotify watcher logging every access to those folders,
# and Xvfb as the display when there is none.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/scripts/wine-lib.sh"
BUILD="$ROOT/build/mingw"
WORK=$(mktemp -d /tmp/kestrun-e2e.XXXXXX)
XVFB_PID=""

cleanup() {
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

start_display() {
    for n in $(seq 90 120); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
            XVFB_PID=$!
            export DISPLAY=":$n"
            for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
        fi
    done
    echo "no display could be started" >&2
    return 1
}

# prepare_scenario NAME: a fresh prefix and drives under $WORK/NAME.
prepare_scenario() {
    local dir="$WORK/$1"
    PREFIX="$dir/prefix"
    DRIVES="$dir/drives"
    wine_fresh_prefix "$PREFIX"
    wine_map_drive "$PREFIX" e floppy "$DRIVES/e"
    wine_map_drive "$PREFIX" f hd "$DRIVES/f"
    wine_map_drive "$PREFIX" g cdrom "$DRIVES/g"
    mkdir -p "$PREFIX/drive_c/Kestrun" "$PREFIX/drive_c/e2e"
    cp "$BUILD/Kestrun.exe" "$PREFIX/drive_c/Kestrun/"
    cp "$BUILD/e2e_tests.exe" "$BUILD/menu_tests.exe" "$PREFIX/drive_c/e2e/"
    EVENTS="$PREFIX/drive_c/e2e/events.log"
    : >"$EVENTS"
}

# Every access to the mapped drives, for the scenarios to read back.
start_watch() {
    inotifywait -m -r -e access,modify,attrib,close_write,open,moved_to,moved_from,create,delete \
        --format '%w%f %e' -o "$EVENTS" "$DRIVES" 2>"$WORK/inotify.err" &
    WATCH_PID=$!
    for _ in $(seq 100); do grep -q "Watches established" "$WORK/inotify.err" 2>/dev/null && return 0; sleep 0.05; done
}

stop_watch() { kill "$WATCH_PID" 2>/dev/null; wait "$WATCH_PID" 2>/dev/null; }

[ -n "${DISPLAY:-}" ] || start_display || exit 1
scenarios=$(grep -oE '^TEST\(Kestrun, [A-Za-z]+\)' "$ROOT/tests/e2e/e2e_tests.cpp" | sed -E 's/TEST\(Kestrun, ([A-Za-z]+)\)/\1/')
[ -n "${E2E_FILTER:-}" ] && scenarios=$(echo "$scenarios" | grep -E "$E2E_FILTER")
status=0
for scenario in $scenarios; do
    prepare_scenario "$scenario"
    case "$scenario" in
        # A FIFO as the marker: Wine cannot stat it, so the program "creates" it by
        # writing 4096 bytes, which a drain swallows; with a writer that never
        # writes holding it open, the program's read then waits for good.
        HungTargetStillLetsTheProgramEnd)
            mkfifo "$DRIVES/e/.kestrun.dat"
            sleep 600 <>"$DRIVES/e/.kestrun.dat" &
            HOLDER=$!
            cat "$DRIVES/e/.kestrun.dat" >/dev/null &
            HOLDER="$HOLDER $!" ;;
    esac
    start_watch
    echo "=== scenario $scenario"
    cd "$PREFIX/drive_c"
    WINEPREFIX="$PREFIX" KESTRUN_EXE='C:\Kestrun\Kestrun.exe' timeout 180 \
        wine 'C:\e2e\e2e_tests.exe' --gtest_filter="Kestrun.$scenario" || status=1
    stop_watch
    wine_stop "$PREFIX"
    mkdir -p "$ROOT/build/test-logs"
    cp "$EVENTS" "$ROOT/build/test-logs/e2e-$scenario.events"
    [ -n "${HOLDER:-}" ] && kill $HOLDER 2>/dev/null
    HOLDER=""
    rm -rf "$WORK/$scenario"
done

if [ -z "${E2E_FILTER:-}" ] || echo Menu | grep -qE "$E2E_FILTER"; then
    prepare_scenario menu
    echo "=== in-process menu"
    cd "$PREFIX/drive_c"
    WINEPREFIX="$PREFIX" timeout 120 wine 'C:\e2e\menu_tests.exe' || status=1
    wine_stop "$PREFIX"
fi
exit $status
