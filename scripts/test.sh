#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the formatting check and the tests' share of the code; the
# whole suite in the release build and under AddressSanitizer + UndefinedBehaviorSanitizer, on
# Qt's offscreen platform; the Debian package built, checked, installed and started; a session
# of the real program under valgrind memcheck; each fuzz target for a minute; the Qt-free core
# built for Windows, its tests run under Wine; and, where Qt base for mingw is at hand, the
# whole program and its Qt Test suite built for Windows and run under Wine, and its MSI and
# zip installed, used, upgraded and removed there.
# Warnings in our own code are errors.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/deps.sh test

echo "== formatting"
mapfile -t sources < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' 2>/dev/null \
    || find src sim prologix tests bench fuzz -name '*.cpp' -o -name '*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "== size of the tests"
scripts/line-ratio.sh

export QT_QPA_PLATFORM=offscreen
for preset in release asan; do
    echo "== $preset: build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "== $preset: tests"
    ctest --preset "$preset"
done

echo "== package"
scripts/package.sh
echo "== memcheck"
scripts/memcheck.sh
echo "== fuzzing"
scripts/fuzz.sh 60
echo "== windows"
scripts/windows-core.sh
if scripts/windows-app.sh --check; then
    scripts/windows-app.sh
else
    echo "== windows-app: skipped, no Qt base for mingw at hand, so neither the Windows program nor its packages (scripts/windows-app.sh builds it once from Debian's source, about 40 minutes)"
fi
echo "== install, as the README has it, after all of the above"
prefix=$(mktemp -d)
cmake --install build/release --prefix "$prefix" >/dev/null
[[ $("$prefix/bin/selvane" --version) == "selvane "* ]] || { echo "the installed panel did not answer" >&2; exit 1; }
rm -rf "$prefix"
echo "All tests passed."
