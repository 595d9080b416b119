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
cd "$WORK"  # never inside a scenario's folder, which is removed when it ends

cleanup() {
    stop_display
    rm -rf "$WORK"
}
trap cleanup EXIT


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

# What a scenario cannot do from inside Wine, done on request: the driver
# drops a file named after the action into C:\e2e\ask and waits for
# C:\e2e\answer-<action> to appear.
do_action() {
    case "$1" in
        unmap-e) mv "$DRIVES/e" "$DRIVES/e.away" ;;
        map-e) mv "$DRIVES/e.away" "$DRIVES/e" ;;
        open-files)  # every handle any process holds open under the mapped drives
            find /proc/[0-9]*/fd -maxdepth 1 -lname "$DRIVES/*" -printf '%l\n' 2>/dev/null ;;
        marker-held)  # which processes hold E's marker open (it may be a terminal), and what it is
            target=$(readlink -f "$DRIVES/e/.kestrun.dat")
            echo "marker: $target"
            find /proc/[0-9]*/fd -maxdepth 1 -lname "$target" 2>/dev/null | cut -d/ -f3 | sort -u |
                while read -r pid; do echo "held by $(cat "/proc/$pid/comm")"; done ;;
        kestrun-rss)  # resident memory of the Kestrun process, in kB
            for status in /proc/[0-9]*/status; do
                if grep -q '^Name:.*Kestrun.exe' "$status" 2>/dev/null; then
                    awk '/^VmRSS:/ {print $2}' "$status"
                fi
            done ;;
        *) echo "unknown action $1" ;;
    esac
}

start_helper() {
    local ask="$PREFIX/drive_c/e2e/ask"
    mkdir -p "$ask"
    (
        while true; do
            for request in "$ask"/*; do
                [ -e "$request" ] || continue
                action=$(basename "$request")
                do_action "$action" >"$PREFIX/drive_c/e2e/answer.tmp" 2>&1
                mv "$PREFIX/drive_c/e2e/answer.tmp" "$PREFIX/drive_c/e2e/answer-$action"
                rm -f "$request"
            done
            sleep 0.05
        done
    ) &
    HELPER=$!
}

[ -n "${DISPLAY:-}" ] || start_display || exit 1
mkdir -p "$ROOT/build/test-logs"
rm -f "$ROOT"/build/test-logs/e2e-*.events
scenarios=$(grep -hoE '^TEST\([A-Za-z]+, [A-Za-z]+\)' "$ROOT"/tests/e2e/e2e_tests.cpp "$ROOT"/tests/e2e/stress_tests.cpp |
    sed -E 's/TEST\(([A-Za-z]+), ([A-Za-z]+)\)/\1.\2/')
[ -n "${E2E_FILTER:-}" ] && scenarios=$(echo "$scenarios" | grep -E "$E2E_FILTER")
status=0
for scenario in $scenarios; do
    prepare_scenario "$scenario"
    case "$scenario" in
        Faults.ReadOnlyTargetIsSkippedQuietly) chattr +i "$DRIVES/f" ;;
        # A terminal stands in for E's marker: every read of it waits for good.
        Kestrun.HungTargetStillLetsTheProgramEnd)
            python3 "$ROOT/tests/e2e/hold_terminal.py" "$DRIVES/e/.kestrun.dat" 900 &
            HOLDER=$!
            for _ in $(seq 50); do [ -L "$DRIVES/e/.kestrun.dat" ] && break; sleep 0.1; done
            [ -L "$DRIVES/e/.kestrun.dat" ] || echo "the terminal standing in for E's marker is missing" ;;
    esac
    start_watch
    start_helper
    echo "=== scenario $scenario"
    # Run from inside the prefix (its C: drive), in a subshell: the folder goes when the scenario ends.
    (cd "$PREFIX/drive_c" && WINEPREFIX="$PREFIX" KESTRUN_KILL_ROUNDS="${KESTRUN_KILL_ROUNDS:-}" \
        KESTRUN_EXE='C:\Kestrun\Kestrun.exe' timeout 1500 wine 'C:\e2e\e2e_tests.exe' --gtest_filter="$scenario") 2>&1 |
        tee "$WORK/scenario.log"
    # A scenario passes only when its one test ran and passed.
    grep -q '^\[  PASSED  \] 1 test' "$WORK/scenario.log" || { status=1; echo "scenario $scenario did not pass"; }
    kill "$HELPER" 2>/dev/null
    stop_watch
    wine_stop "$PREFIX"
    cp "$EVENTS" "$ROOT/build/test-logs/e2e-$scenario.events"
    [ -n "${HOLDER:-}" ] && kill $HOLDER 2>/dev/null
    HOLDER=""
    chattr -i "$DRIVES/f" 2>/dev/null
    rm -rf "$WORK/$scenario"
done

if [ -z "${E2E_FILTER:-}" ] || echo Menu | grep -qE "$E2E_FILTER"; then
    prepare_scenario menu
    echo "=== in-process menu"
    (cd "$PREFIX/drive_c" && WINEPREFIX="$PREFIX" timeout 120 wine 'C:\e2e\menu_tests.exe') 2>&1 | tee "$WORK/scenario.log"
    grep -q '^\[  PASSED  \] 1 test' "$WORK/scenario.log" || { status=1; echo "the in-process menu test did not pass"; }
    wine_stop "$PREFIX"
fi
# Over all scenarios: nothing but the markers was ever written on a target drive.
bash "$ROOT/tests/e2e/check_writes.sh" "$ROOT"/build/test-logs/e2e-*.events || status=1
exit $status
