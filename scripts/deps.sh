#!/usr/bin/env bash
# Installs what building and testing Kestrun need on Debian, when missing.
set -euo pipefail
packages=(cmake ninja-build g++ python3 googletest clang clang-format libclang-rt-14-dev
          g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          wine wine64 xvfb xdotool x11-utils inotify-tools fonts-noto-cjk zip imagemagick)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi
