#!/usr/bin/env bash
# The real Kestrun.exe under Wine, driven from outside as a user would: E:
# removable, F: and H: fixed, G: a CD-ROM, I: a network share, each an empty
# folder watched by inotify. Clicks on the icon and keys in its menu go in
# through xdotool; the settings file, the markers, the registry and the
# shell's tooltip are read back. Ends with "N passed, M failed".
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/scripts/wine-lib.sh"
# KESTRUN_EXE runs another build (the coverage one); E2E_KEEP keeps the prefix there, with its counts.
EXE=${KESTRUN_EXE:-$ROOT/build/mingw/Kestrun.exe}
WORK=${E2E_KEEP:-$(mktemp -d /tmp/kestrun-e2e.XXXXXX)}
PREFIX=$WORK/prefix D=$WORK/drives
trap 'kill $(jobs -p) 2>/dev/null; wine_stop "$PREFIX"; stop_display; [ -n "${E2E_KEEP:-}" ] || rm -rf "$WORK"' EXIT
passed=0 failed=0

check() {  # check NAME COMMAND...: one named expectation
    if "${@:2}"; then passed=$((passed + 1)); echo "ok    $1"; else failed=$((failed + 1)); echo "FAIL  $1"; fi
}
eventually() { for _ in $(seq 300); do "$@" && return 0; sleep 0.05; done; "$@"; }  # up to 15 s
win() { WINEPREFIX=$PREFIX wine "$@" 2>/dev/null; }
# Started directly, so that $! is the program itself: only what this run started is ever ended.
start() { WINEPREFIX=$PREFIX wine 'C:\k\Kestrun.exe' 2>/dev/null & KESTRUN=$!; }
tray() { xdotool search --onlyvisible --name '^Wine System Tray$' | head -1; }  # Wine's window of icons
# seen ARGS...: 0 when xdotool finds a visible window, 1 when it finds none, 2 when the search itself fails.
seen() { local error; error=$(xdotool search --onlyvisible "$@" 2>&1 >/dev/null) && return 0; [ -z "$error" ] || return 2; return 1; }
# none COMMAND...: COMMAND answered 1, "there is none", and not 2, "the query failed".
none() { "$@"; [ $? -eq 1 ]; }
icon_gone() { none seen --name '^Wine System Tray$'; }
icon_at() {  # X and Y of the icon: the tray window's first slot
    local window
    window=$(tray)
    [ -n "$window" ] || return 1  # xwininfo without a window waits for a click
    read -r X Y < <(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x = $4 + 10} /Absolute upper-left Y/ {print x, $4 + 10}')
}
click() { icon_at && xdotool mousemove "$X" "$Y" click --repeat "${2:-1}" --delay 100 "$1"; }  # click BUTTON [REPEAT]
drawn() { [ "$(import -window "$(tray)" png:- | convert png:- -crop 20x20+0+0 +repage -format %k info:)" -ge 3 ]; }
menu_open() { seen --classname '^kestrun\.exe$'; }  # its menu, or a box of its own
menu() { eventually click 3 && eventually menu_open && xdotool key --delay 150 "$@"; }  # menu KEY...: the real menu
# Hovering shows the shell's tooltip about half a second later; a move to another pixel shows it anew.
tooltip_is() {
    for _ in 1 2 3; do
        eventually icon_at && xdotool mousemove "$X" "$Y" mousemove $((X + 1)) $((Y + 1))
        for _ in $(seq 20); do
            [ "$(win 'C:\k\driver.exe' tooltip | tr -d '\r')" = "$1" ] && return 0
            sleep 0.1
        done
    done
    return 1
}
settings() { printf '\xEF\xBB\xBF# Kestrun config\r\nEnabled=%s\r\nIntervalSec=%s\r\nDrives=%s\r\n' "$@" | cmp -s - "$CONFIG"; }
marker() { head -c 4096 /dev/zero | cmp -s - "$D/$1/.kestrun.dat"; }
no_marker() { [ ! -e "$D/$1/.kestrun.dat" ]; }
# listed KEY TEXT: 0 when KEY's values list TEXT, 1 when they do not, 2 when the query itself fails.
listed() { local values; values=$(win reg query "$1") || return 2; grep -qF "$2" <<<"$values"; }
RUN='HKCU\Software\Microsoft\Windows\CurrentVersion\Run' ENTRY='    Kestrun    '  # a value's name as reg lists it
ended() { ! kill -0 "$KESTRUN" 2>/dev/null; }
# A read that never returns: the program has H's marker, a terminal, open.
stuck_on_h() { ls -l "/proc/$KESTRUN/fd" 2>/dev/null | grep -q " $(readlink "$D/h/.kestrun.dat")\$"; }

wine_fresh_prefix "$PREFIX" || exit 1
for drive in e:floppy f:hd g:cdrom h:hd i:network; do wine_map_drive "$PREFIX" "${drive%:*}" "${drive#*:}" "$D/${drive%:*}"; done
mkdir -p "$PREFIX/drive_c/k" && cp "$EXE" "$PREFIX/drive_c/k/Kestrun.exe" && cp "$ROOT/build/mingw/driver.exe" "$PREFIX/drive_c/k/"
CONFIG="$PREFIX/drive_c/users/$(whoami)/AppData/Roaming/Kestrun/config.ini"
# H's marker is a pseudo-terminal drained and never answered: creating it succeeds, reading it never returns.
python3 -c 'import os, pty, sys; m, s = pty.openpty(); os.symlink(os.ttyname(s), sys.argv[1]); [*iter(lambda: os.read(m, 9), b"")]' \
    "$D/h/.kestrun.dat" & HOLDER=$!
inotifywait -qm -r -e modify,attrib,close_write,moved_to,moved_from,create,delete --format '%w%f %e' \
    -o "$WORK/events" "$D" 2>/dev/null &
[ -n "${DISPLAY:-}" ] || start_display || exit 1
sleep 0.5

check "the program is marked Terminal Server aware" eval 'x86_64-w64-mingw32-objdump -p "$EXE" | grep TERMINAL_SERVICE_AWARE >/dev/null'
start
check "first start saves the defaults with the removable drive" eventually settings 1 30 E
check "first start makes E's marker, 4096 zero bytes, and none on F or G" eval 'eventually marker e && no_marker f && no_marker g'
check "the shell shows the icon, drawn, and its tooltip" eval 'tooltip_is "Kestrun - ON (30s)" && drawn'

# Each choice goes through the real menu. Its second item opens the drives (E, F, H), the second of them is F.
check "choosing F in the real menu saves it and makes F's marker" \
    eval 'menu Down Down Right Down Return && eventually settings 1 30 EF && eventually marker f'
check "dropping F there saves it and deletes F's marker" \
    eval 'menu Down Down Right Down Return && eventually settings 1 30 E && eventually no_marker f'
check "the third interval there is saved and shown in the tooltip" \
    eval 'menu Down Down Down Right Down Down Return && eventually settings 1 60 E && tooltip_is "Kestrun - ON (60s)"'
quoted='"C:\k\Kestrun.exe"'
check "start with Windows writes the quoted path" eval 'menu Down Down Down Down Return && eventually listed "$RUN" "REG_SZ    $quoted"'
check "and a second choice removes it" eval 'menu Down Down Down Down Return && eventually none listed "$RUN" "$ENTRY"'
# Task Manager's startup switch leaves the Run value and writes an odd first byte under StartupApproved.
approved='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
win reg add "$RUN" /v Kestrun /d x /f >/dev/null
win reg add "$approved" /v Kestrun /t REG_BINARY /d 030000000000000000000000 /f >/dev/null
registered_anew() { listed "$RUN" "REG_SZ    $quoted" && none listed "$approved" "$ENTRY"; }
check "switched off by Windows counts as off: choosing it registers again" \
    eval 'menu Down Down Down Down Return && eventually registered_anew'
check "after Explorer restarts, the icon comes back and a real click opens the menu" \
    eval 'win "C:\\k\\driver.exe" delete-icon && eventually icon_gone && win "C:\\k\\driver.exe" taskbar-created &&
          eventually click 3 && eventually menu_open && xdotool key Escape && eventually none menu_open'

# H's marker is a terminal: its read never returns, and exit must still end the process.
check "a hung read is under way on H" eval 'menu Down Down Right Down Down Return && eventually stuck_on_h'
check "a real double-click on the icon switches keeping-awake off, and the tooltip says so, even while a read hangs" \
    eval 'eventually click 1 2 && eventually settings 0 60 EH && tooltip_is "Kestrun - OFF (60s)"'
check "exit by the real menu ends the process, with exit code 0, despite the hung read" \
    eval 'menu Up Return && { eventually ended || eventually ended; } && { wait "$KESTRUN"; [ $? -eq 0 ]; }'

# Another program holds the settings file as Kestrun starts: it runs on the first-run choices without
# making E's marker, and reads the file once it is let go, with no click.
rm "$D/e/.kestrun.dat"
printf 'Drives=F\r\nIntervalSec=60\r\n' >"$CONFIG"
exec {held}< <(win 'C:\k\driver.exe' lock "C:\\users\\$(whoami)\\AppData\\Roaming\\Kestrun\\config.ini" 4000)
read -r -t 30 -u "$held" locked
start
check "a settings file held at start-up is read once let go: F's marker, and none made on the first-run E" \
    eval '[[ $locked == locked* ]] && eventually settings 1 60 F && eventually marker f && no_marker e'
check "the about box opens from the real menu and closes" \
    eval 'menu Up Up Return && eventually win "C:\\k\\driver.exe" close-box && eventually none menu_open'
# Wine takes about 2 s to remove the last icon; then the process must end at once, not after the 3 s wait.
exits_promptly() { eventually icon_gone && local gone=${EPOCHREALTIME/./} && eventually ended && [ $((${EPOCHREALTIME/./} - gone)) -lt 2000000 ]; }
check "exit removes the icon and then ends the process at once, with exit code 0" \
    eval 'menu Up Return && exits_promptly && { wait "$KESTRUN"; [ $? -eq 0 ]; }'

strays=$(grep -v '/\.kestrun\.dat ' "$WORK/events")
check "nothing but markers was written on the drives, and E's made once in all" \
    eval '[ -z "$strays" ] && [ "$(grep -c "/e/\.kestrun\.dat CREATE" "$WORK/events")" -eq 1 ] || { echo "$strays"; false; }'
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
