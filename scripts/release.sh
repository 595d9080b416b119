#!/usr/bin/env bash
# Builds the release: dist/Kestrun-VERSION-win64.zip (Kestrun.exe, stripped and statically linked,
# the README in English and Japanese with everything they link: the screenshot, the pages under
# docs/ and the license) and its SHA-256 checksum. VERSION is project()'s in CMakeLists.txt. The same
# commit gives the same bytes: the link carries no timestamp and every file in the archive gets the
# commit's time.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/wine-lib.sh
prepare_windows_build Kestrun
version=$(sed -n 's/^project(Kestrun VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
name="Kestrun-$version-win64"
stamp=$(git log -1 --format=%ct 2>/dev/null || echo 1796515200)
stage=$(mktemp -d /tmp/kestrun-release.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/docs" dist
cp build/mingw/Kestrun.exe "$stage/$name/"  # linked with -s: already stripped
cp README.md README.ja.md LICENSE "$stage/$name/"
cp docs/menu.png docs/*.md "$stage/$name/docs/"
# Every relative link of the pages that ship must lead to a file that ships.
for page in "$stage/$name"/*.md "$stage/$name"/docs/*.md; do
    for link in $(grep -oE '\]\([^)#: ]+' "$page" | sed 's/^](//'); do
        [ -e "$(dirname "$page")/$link" ] || { echo "$page links $link, which the zip lacks" >&2; exit 1; }
    done
done
find "$stage/$name" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "$stage/$name" -exec touch -h -d "@$stamp" {} +
rm -f "dist/$name.zip"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -q "$ROOT/dist/$name.zip" -@)
(cd dist && sha256sum "$name.zip" >"$name.zip.sha256")
cat "dist/$name.zip.sha256"
