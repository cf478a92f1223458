#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The share of the test code (tests/ and fuzz/, the fuzz corpus being data) in all the code:
# non-blank lines of C/C++, Python, shell and CMake files in src, sim, tests, fuzz, bench,
# scripts and cmake. Fails when the tests are more than a third.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
    git ls-files --cached --others --exclude-standard "$@" \
        | grep -E '\.(c|cc|cpp|h|hpp|py|sh|cmake)$|CMakeLists\.txt$' | grep -v '^fuzz/corpus/' \
        | xargs -r cat | grep -cv '^[[:space:]]*$' || true
}
tests=$(count tests fuzz)
all=$(count src sim tests fuzz bench scripts cmake)
echo "tests and fuzz: $tests of $all non-blank lines ($((100 * tests / all))%)"
if (( 3 * tests > all )); then
    echo "line-ratio: the tests are more than a third of the code" >&2
    exit 1
fi
