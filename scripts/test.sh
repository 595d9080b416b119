#!/usr/bin/env bash
# Builds Kestrun and runs every test layer: the host tests on the fake (under
# AddressSanitizer and UBSan), the same under ThreadSanitizer, a fuzz smoke of
# the settings reader, then the real Kestrun.exe under Wine. Named layers
# (format host tsan fuzz e2e) run only those, each with its build:
# `bash scripts/test.sh host e2e`.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
bash scripts/deps.sh || exit 1
source scripts/wine-lib.sh

LOGS="$ROOT/build/test-logs"
mkdir -p "$LOGS"
passed=0
failed=0
failures=()

# stage NAME COMMAND...: runs one stage, keeps its log, and counts the tests it reports.
stage() {
    local name=$1
    shift
    local start=$SECONDS
    "$@" >"$LOGS/$name.log" 2>&1
    local rc=$?
    local p f
    p=$(grep -hoE '^\[  PASSED  \] [0-9]+ test|^[0-9]+ passed' "$LOGS/$name.log" | grep -oE '[0-9]+' | awk '{s+=$1} END {print s+0}')
    f=$(grep -hoE '^\[  FAILED  \] [0-9]+ test|[0-9]+ failed$' "$LOGS/$name.log" | grep -oE '[0-9]+' | awk '{s+=$1} END {print s+0}')
    passed=$((passed + p))
    failed=$((failed + f))
    if [ $rc -ne 0 ]; then
        [ "$f" -eq 0 ] && failed=$((failed + 1))
        failures+=("$name")
        echo "FAIL  $name ($((SECONDS - start)) s): last lines of $LOGS/$name.log"
        tail -n 40 "$LOGS/$name.log" | sed 's/^/    /'
    else
        echo "ok    $name ($((SECONDS - start)) s, $p tests)"
    fi
    return $rc  # a failed build runs no stale tests after it
}

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; }

# A short libFuzzer run over the settings reader (the long runs are done by hand).
fuzz_smoke() {
    local corpus
    corpus=$(mktemp -d /tmp/kestrun-fuzz.XXXXXX)
    (cd "$corpus" && "$ROOT/build/fuzz/settings_fuzz" -max_total_time=20 -print_final_stats=1 "$corpus" "$ROOT/tests/fuzz/seeds")
    local rc=$?
    rm -rf "$corpus"
    return $rc
}

# Every C++ file of the program and the tests in the style of .clang-format.
format_check() { git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; }

LAYERS="$*"
wanted() { [ -z "$LAYERS" ] || [[ " $LAYERS " == *" $1 "* ]]; }
total_start=$SECONDS
wanted format && stage format format_check
wanted host && stage build-host build host && stage host build/host/unit_tests
wanted tsan && stage build-tsan build host-tsan && stage host-tsan build/host-tsan/unit_tests
wanted fuzz && stage build-fuzz build fuzz && stage fuzz fuzz_smoke
wanted e2e && stage build-mingw build mingw && stage wine-template wine_template && stage e2e bash tests/e2e/run.sh

echo
echo "test command took $((SECONDS - total_start)) s"
[ ${#failures[@]} -gt 0 ] && echo "failed stages: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
