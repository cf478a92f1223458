#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The share of the test code in all the code: non-blank lines of C/C++, Python, shell and
# CMake files in src, sim, prologix, tests, fuzz, bench, scripts, cmake and packaging (the fuzz corpus
# being data). Test code is tests/ and fuzz/, every script that checks (a script that builds
# keeps its checks in a file of its own), the helpers that read the screen's pixels, the CMake
# test helper, and the simulated bus's hooks for tests (SimReset, SimDescriptorsInUse and what
# only they call). Fails when the tests are more than 35%.
set -euo pipefail
cd "$(dirname "$0")/.."
nonblank() { grep -cv '^[[:space:]]*$' || true; }
count() {
    git ls-files --cached --others --exclude-standard "$@" \
        | grep -E '\.(c|cc|cpp|h|hpp|py|sh|cmake)$|CMakeLists\.txt$' | grep -v '^fuzz/corpus/' \
        | xargs -r cat | nonblank
}
hooks() {
    awk '/^(SIM_EXPORT .* Sim(Reset|DescriptorsInUse)\(|(int|void) SimBus::(reset|descriptorsInUse)\()/,/^}/' \
        sim/GpibSim.cpp sim/SimBus.cpp | nonblank
}
tests=$(( $(count tests fuzz cmake/SelvaneTest.cmake scripts/test.sh scripts/memcheck.sh \
    scripts/fuzz.sh scripts/windows-core.sh scripts/with-window-manager.sh scripts/screen.sh \
    scripts/package-check.sh scripts/windows-panel.sh scripts/windows-package.sh \
    scripts/line-ratio.sh) + $(hooks) ))
all=$(count src sim prologix tests fuzz bench scripts cmake packaging)
echo "tests: $tests of $all non-blank lines ($((100 * tests / all))%)"
if (( 100 * tests > 35 * all )); then
    echo "line-ratio: the tests are more than 35% of the code" >&2
    exit 1
fi
