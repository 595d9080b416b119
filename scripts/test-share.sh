#!/usr/bin/env bash
# The test share: lines of every tracked file under tests/ (any language: the fake, the tables, the
# end-to-end script and its driver, the fuzz target) against lines of the program's C++ (every tracked
# .cpp and .h outside tests/ and bench/). A line counts unless it is blank or only a comment: one
# starting with //, /*, * or a # followed by a space (shell and Python comments; #include counts).
# Left out: the fuzz seeds, pictures and text files under tests/, and bench/, mutants/, coverage/ and
# scripts/, which are neither the program nor its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { tr '\n' '\0' | xargs -0 -r cat | grep -cvE '^\s*($|//|#(\s|$)|/\*|\*)'; }
program=$(git ls-files | grep -E '\.(cpp|cc|h|hpp)$' | grep -vE '^(tests?|bench|third_party)/' | count)
tests=$(git ls-files 'tests/*' | grep -vE '\.(md|txt|png|json)$|/seeds/|/corpus/' | count)
awk -v t="$tests" -v p="$program" 'BEGIN { printf "tests %d, program %d: %.1f%% (at most 50%%)\n", t, p, 100 * t / p }'
