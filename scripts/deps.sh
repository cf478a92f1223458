#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian 12 packages a task needs, when they are missing (as root, or through
# sudo). Safe to run again: installed packages are left alone.
#   scripts/deps.sh build|test|fuzz|memcheck|windows|windows-app|qt-source|package|screenshot
set -euo pipefail

build=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libsqlite3-dev libgtest-dev
       libbenchmark-dev fonts-dejavu-core fonts-liberation2)
case "${1:-build}" in
    build) wanted=("${build[@]}") ;;
    test) wanted=("${build[@]}" clang-format clang libclang-rt-14-dev valgrind xvfb xauth xdotool python3 locales
                  python3-pyvisa python3-pyvisa-py
                  openbox x11-utils
                  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64) ;;
    windows) wanted=(cmake ninja-build libgtest-dev g++-mingw-w64-x86-64-posix
                     g++-mingw-w64-i686-posix wine wine64) ;;
    windows-app) wanted=(cmake ninja-build qt6-base-dev g++-mingw-w64-x86-64-posix
                         g++-mingw-w64-i686-posix wine wine64 xvfb xauth xdotool imagemagick
                         openbox x11-utils wixl msitools icoutils) ;;
    package) wanted=("${build[@]}" dpkg-dev lintian desktop-file-utils appstream xvfb xauth
                     xdotool x11-utils imagemagick python3 librsvg2-bin devscripts) ;;
    qt-source) wanted=(cmake ninja-build dpkg-dev xz-utils perl qt6-base-dev qt6-base-dev-tools
                       g++-mingw-w64-x86-64-posix) ;;
    fuzz) wanted=("${build[@]}" clang libclang-rt-14-dev) ;;
    memcheck) wanted=("${build[@]}" valgrind xvfb xauth xdotool python3) ;;
    screenshot) wanted=("${build[@]}" xvfb xauth imagemagick python3 xdotool openbox x11-utils) ;;
    *) echo "deps.sh: unknown task '$1' (build, test, fuzz, memcheck, windows, windows-app, qt-source, package or screenshot)" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    as_root=(false)
fi
if [[ ${#missing[@]} -gt 0 ]]; then
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "These packages are needed and this is not a Debian system: ${missing[*]}" >&2
        exit 1
    fi
    if [[ ${as_root[0]:-} == false ]]; then
        echo "These packages are needed; install them as root:" >&2
        echo "    apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The number reading is also checked under a locale whose decimal separator is a comma.
if [[ ${1:-build} == test ]] && ! locale -a | grep -qix 'de_DE\.utf-\?8'; then
    "${as_root[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "deps.sh: no de_DE.UTF-8 locale" >&2
fi
