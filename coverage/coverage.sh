#!/usr/bin/env bash
# Which lines and branches of the program each test layer runs: the host
# tests on the fake, and Kestrun.exe under Wine driven by the end-to-end
# script. Both are built with coverage, run, and merged into one report per
# file, followed by every line that no layer runs. Not part of the test
# command; the reports stay in build/coverage/ (report.txt, and each layer's JSON).
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$ROOT/build/coverage
bash scripts/deps.sh || exit 1
command -v gcovr >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr >/dev/null || exit 1
start=$SECONDS
rm -rf "$OUT"
mkdir -p "$OUT"
# The program's own folders; the fake, the tests and GoogleTest are not measured.
FILTER='(app|state|settings|drives|keepawake|tray|platform)/'
report() {  # report LAYER OBJECT-DIR: that layer's counts as gcovr JSON
    gcovr --root "$ROOT" --object-directory "$2" --exclude-directories "$2/CMakeFiles/[0-9.]+" --filter "$FILTER" \
        --exclude-throw-branches --exclude-unreachable-branches --json "$OUT/$1.json" "$2" || exit 1
}

echo "host tests (coverage build)"
{ cmake --preset host-cov >/dev/null && cmake --build --preset host-cov >/dev/null; } || exit 1
find build/host-cov -name '*.gcda' -delete
build/host-cov/unit_tests >"$OUT/host.log" 2>&1 || echo "  (some host tests failed: $OUT/host.log)"
report host build/host-cov

echo "Kestrun.exe under Wine (coverage build)"
{ cmake --preset mingw-cov >/dev/null && cmake --build --preset mingw-cov --target Kestrun >/dev/null; } || exit 1
find build/mingw-cov -name '*.gcda' -delete
source scripts/wine-lib.sh
wine_template
KESTRUN_EXE=build/mingw-cov/Kestrun.exe E2E_KEEP="$OUT/e2e" bash tests/e2e/run.sh >"$OUT/e2e.log" 2>&1 ||
    echo "  (some end-to-end checks failed: $OUT/e2e.log)"
# MinGW's gcov runtime wrote its counts under drive C at the object files' absolute paths.
(cd "$OUT/e2e/prefix/drive_c$ROOT/build/mingw-cov" && find . -name '*.gcda' -exec cp --parents {} "$ROOT/build/mingw-cov/" \;)
report wine build/mingw-cov

python3 coverage/report.py host="$OUT/host.json" wine="$OUT/wine.json" | tee "$OUT/report.txt"
echo "coverage took $((SECONDS - start)) s"
