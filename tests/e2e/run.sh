#!/usr/bin/env bash
# The real Kestrun.exe under Wine, driven from outside: E: removable, F: and
# H: fixed, G: a CD-ROM, I: a network share, each an empty folder watched by
# inotify. Real clicks on the icon go in through xdotool, messages and keys
# through poke.exe; the settings file, the markers and the registry are read
# back from Linux. Ends with "N passed, M failed".
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/scripts/wine-lib.sh"
WORK=$(mktemp -d /tmp/kestrun-e2e.XXXXXX)
PREFIX=$WORK/prefix D=$WORK/drives
trap 'kill $(jobs -p) 2>/dev/null; wine_stop "$PREFIX"; stop_display; rm -rf "$WORK"' EXIT
passed=0 failed=0

check() {  # check NAME COMMAND...: one named expectation
    if "${@:2}"; then passed=$((passed + 1)); echo "ok    $1"; else failed=$((failed + 1)); echo "FAIL  $1"; fi
}
eventually() { for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done; "$@"; }  # up to 10 s
win() { WINEPREFIX=$PREFIX wine "$@" 2>/dev/null; }
poke() { win 'C:\k\poke.exe' "$@"; }
# Started directly, so that $! is the program itself: only what this run started is ever ended.
start() { WINEPREFIX=$PREFIX wine 'C:\k\Kestrun.exe' 2>/dev/null & KESTRUN=$!; poke send 0; }
# click BUTTON [REPEAT]: a real click on the icon, in the first slot of Wine's stand-alone tray window.
click() {
    local at
    at=$(xwininfo -root -tree | grep '"Wine System Tray"' | grep -oE '[0-9]+x[0-9]+\+[0-9]+\+[0-9]+' | head -1)
    [ -n "$at" ] && xdotool mousemove "$(echo "$at" | cut -d+ -f2)" "$(echo "$at" | cut -d+ -f3)" mousemove_relative 10 10 \
        click --repeat "${2:-1}" --delay 100 "$1"
}
command() { poke send 273 "$1" && check "${@:2}"; }  # command ID NAME CHECK...: a menu command, then a check
settings() { printf '\xEF\xBB\xBF# Kestrun config\r\nEnabled=%s\r\nIntervalSec=%s\r\nDrives=%s\r\n' "$@" | cmp -s - "$CONFIG"; }
marker() { head -c 4096 /dev/zero | cmp -s - "$D/$1/.kestrun.dat"; }
no_marker() { [ ! -e "$D/$1/.kestrun.dat" ]; }
run_value() { win reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Kestrun 2>/dev/null | grep -qF "$1"; }
ended() { ! kill -0 "$KESTRUN" 2>/dev/null; }
hard_kill() { kill -9 "$KESTRUN"; wait "$KESTRUN" 2>/dev/null; }
# The file is always whole: some state's exact bytes, never torn, never empty.
whole() { python3 -c 'import re,sys; sys.exit(not re.fullmatch(rb"\xef\xbb\xbf# Kestrun config\r\nEnabled=[01]\r\nIntervalSec=(15|30|60|120)\r\nDrives=E\r\n", open(sys.argv[1], "rb").read()))' "$CONFIG"; }
# A read that never returns: some process other than the terminal's holder has H's marker open.
stuck_on_h() {
    for p in /proc/[0-9]*; do
        [ "$p" != "/proc/$HOLDER" ] && ls -l "$p/fd" 2>/dev/null | grep -q " $(readlink "$D/h/.kestrun.dat")\$" && return 0
    done
    return 1
}

wine_fresh_prefix "$PREFIX" || exit 1
wine_map_drive "$PREFIX" e floppy "$D/e"
wine_map_drive "$PREFIX" f hd "$D/f"
wine_map_drive "$PREFIX" g cdrom "$D/g"
wine_map_drive "$PREFIX" h hd "$D/h"
wine_map_drive "$PREFIX" i network "$D/i"
mkdir -p "$PREFIX/drive_c/k"
cp "$ROOT/build/mingw/Kestrun.exe" "$ROOT/build/mingw/poke.exe" "$PREFIX/drive_c/k/"
CONFIG="$PREFIX/drive_c/users/$(whoami)/AppData/Roaming/Kestrun/config.ini"
# H's marker is a pseudo-terminal drained and never answered: creating it succeeds, reading it never returns.
python3 -c 'import os, pty, sys; m, s = pty.openpty(); os.symlink(os.ttyname(s), sys.argv[1]); [*iter(lambda: os.read(m, 9), b"")]' \
    "$D/h/.kestrun.dat" & HOLDER=$!
inotifywait -qm -r -e modify,attrib,close_write,moved_to,moved_from,create,delete --format '%w%f %e' \
    -o "$WORK/events" "$D" 2>/dev/null &
[ -n "${DISPLAY:-}" ] || start_display || exit 1
sleep 0.5

start
check "first start saves the defaults with the removable drive" eventually settings 1 30 E
check "first start makes E's marker: 4096 zero bytes" eventually marker e
check "no marker on the fixed drive or the CD-ROM" eval 'no_marker f && no_marker g'
before=$(stat -c %y "$CONFIG")
check "a second instance exits 0 at once" env WINEPREFIX="$PREFIX" timeout 20 wine 'C:\k\Kestrun.exe'
check "and leaves the settings file alone" eval '[ "$(stat -c %y "$CONFIG")" = "$before" ] && settings 1 30 E'

eventually click 1 2
check "a real double-click on the icon switches keeping-awake off" eventually settings 0 30 E
click 1 2
check "and on again" eventually settings 1 30 E
# The real menu from a real right-click: the second item opens the drives (E, F, H), the second of them is F.
click 3 && poke keys 40 40 39 40 13
check "choosing F in the real menu saves it and makes F's marker" eval 'eventually settings 1 30 EF && eventually marker f'
click 3 && poke keys 40 40 39 40 13
check "dropping F there saves it and deletes F's marker" eval 'eventually settings 1 30 E && eventually no_marker f'
# Letters of drives that cannot be chosen, sent as commands: a CD-ROM and a network share.
poke send 273 306 && poke send 273 308 && poke send 273 305
check "a CD-ROM or network letter among the targets gets no marker" \
    eval 'eventually marker f && no_marker g && no_marker i'
poke send 273 306 && poke send 273 308 && poke send 273 305
command 101 "start with Windows writes the quoted path" run_value '"C:\k\Kestrun.exe"'
command 101 "and a second choice removes it" eval '! run_value Kestrun'
# Task Manager's startup switch leaves the Run value and writes an odd first byte under StartupApproved.
approved='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
poke send 273 101 && win reg add "$approved" /v Kestrun /t REG_BINARY /d 030000000000000000000000 /f >/dev/null
command 101 "switched off by Windows counts as off: choosing it registers again" eval \
    'run_value "\"C:\k\Kestrun.exe\"" && ! win reg query "$approved" /v Kestrun >/dev/null'
poke send 273 101

click 3 && poke keys 40 40 40 39 40 40 13
check "the real menu by keyboard: intervals, third item" eventually settings 1 60 E

# Hard kills while commands pour in never leave a torn or empty settings file.
torn=0
for round in $(seq 24); do
    poke storm 40 "$round" && sleep "0.0$((RANDOM % 10))"
    hard_kill
    whole || torn=$((torn + 1))
    start
done
check "24 hard kills during command storms: the file is always whole" [ $torn -eq 0 ]
grep -q 'Enabled=0' "$CONFIG" && poke send 273 100

# H's marker is a terminal: its read never returns, and exit must still end the process.
command 307 "a hung read is under way on H" eventually stuck_on_h
click 3 && poke keys 38 13
check "exit by the real menu ends the process despite the hung read" eval 'eventually ended || eventually ended'
check "with exit code 0" eval 'ended && { wait "$KESTRUN"; [ $? -eq 0 ]; }'

strays=$(grep -v '/\.kestrun\.dat ' "$WORK/events")
check "nothing but markers was written on the drives" [ -z "$strays" ]
[ -z "$strays" ] || echo "$strays"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
