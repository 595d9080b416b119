# Helpers for running Windows programs under Wine in throw-away prefixes.
# Sourced by the run and test scripts.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
KESTRUN_ROOT=${KESTRUN_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
WINE_TEMPLATE="$KESTRUN_ROOT/build/wine-template"

# A prepared prefix to copy from: booting one takes seconds, copying it far less.
wine_template() {
    if [ ! -f "$WINE_TEMPLATE/.ready" ]; then
        rm -rf "$WINE_TEMPLATE"
        mkdir -p "$(dirname "$WINE_TEMPLATE")"
        WINEPREFIX="$WINE_TEMPLATE" wineboot -i >/dev/null 2>&1
        WINEPREFIX="$WINE_TEMPLATE" wineserver -w
        touch "$WINE_TEMPLATE/.ready"
    fi
}

# wine_fresh_prefix DIR: a new prefix at DIR without the Z: drive (Wine maps
# it to the Linux root, which would show up as one more fixed drive).
wine_fresh_prefix() {
    wine_template
    rm -rf "$1"
    mkdir -p "$(dirname "$1")"
    cp -a "$WINE_TEMPLATE" "$1" || return 1
    rm -f "$1/dosdevices/z:" "$1/.ready"
}

# wine_map_drive PREFIX LETTER TYPE FOLDER: TYPE is one of Wine's drive types
# (floppy = removable, hd = fixed, cdrom, network). Call before any Wine
# process runs in PREFIX: the registry file is edited directly.
wine_map_drive() {
    local prefix=$1 letter=$2 type=$3 folder=$4
    mkdir -p "$folder"
    ln -sfn "$folder" "$prefix/dosdevices/${letter}:"
    if ! grep -q '^\[Software\\\\Wine\\\\Drives\]' "$prefix/system.reg"; then
        printf '\n[Software\\\\Wine\\\\Drives] 1700000000\n' >>"$prefix/system.reg"
    fi
    sed -i "/^\[Software\\\\\\\\Wine\\\\\\\\Drives\]/a \"${letter}:\"=\"${type}\"" "$prefix/system.reg"
}

# wine_stop PREFIX: end every Wine process of PREFIX.
wine_stop() { WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true; }

# prepare_windows_build [TARGET]: installs what is missing and cross-builds
# the Windows programs (all of them, or TARGET alone).
prepare_windows_build() {
    bash "$KESTRUN_ROOT/scripts/deps.sh"
    (cd "$KESTRUN_ROOT" && cmake --preset mingw >/dev/null && cmake --build --preset mingw ${1:+--target "$1"} >/dev/null)
}

# start_display: a virtual X display of our own for Wine's windows.
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

stop_display() { [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null; XVFB_PID=""; }
