#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole program for 64-bit Windows: Qt base for mingw-w64 provided in a cache outside the
# tree, then the panel, gpib-sim.dll and the Qt Test suite built against it, the suite run
# under Wine on an Xvfb display; then its Windows packages, built and checked (windows-package.sh).
#   scripts/windows-app.sh          provide Qt, build, run the suite
#   scripts/windows-app.sh --qt     provide Qt only
#   scripts/windows-app.sh --check  exit 0 when Qt is in the cache or its archive is at hand
#   scripts/windows-app.sh --screenshot  provide Qt, build, and save the panel under Wine as
#                                        docs/windows-main-window.png
# SELVANE_QT_CACHE names the cache (default ~/.cache/selvane); SELVANE_QT_ARCHIVE a prebuilt
# archive of Qt base whose folder install/ is the prefix (default ../shared/qt-mingw/ beside
# the checkout). Without either, Qt base is built from Debian's source (about 40 minutes).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/screen.sh
source scripts/wine.sh

cache=${SELVANE_QT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/selvane}
archive=${SELVANE_QT_ARCHIVE:-$top/../shared/qt-mingw/qt-6.4.2-mingw-x86_64.tar.xz}
export SELVANE_QT_MINGW=$cache/qt-6.4.2-mingw-x86_64
provided=$SELVANE_QT_MINGW/.complete # written last: an interrupted unpack or build starts again

if [[ ${1:-} == --check ]]; then
    [[ -f $provided || -f $archive ]]
    exit
fi

# Debian's source package, configured for what the panel and its tests use.
build_qt() {
    scripts/deps.sh qt-source
    if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
        # A deb-src entry beside each deb entry, with the same URIs.
        local list=/etc/apt/sources.list.d/selvane-deb-src as_root=()
        [[ $(id -u) -eq 0 ]] || as_root=(sudo)
        for f in /etc/apt/sources.list.d/*.sources; do
            if [[ -f $f && $f != "$list.sources" ]]; then
                awk 'BEGIN { RS = ""; ORS = "\n\n" }
                    /(^|\n)Types:[^\n]*deb/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
            fi
        done | "${as_root[@]}" tee "$list.sources" >/dev/null
        { grep -hs '^deb ' /etc/apt/sources.list || true; } | sed 's/^deb /deb-src /' |
            "${as_root[@]}" tee "$list.list" >/dev/null
        "${as_root[@]}" apt-get update -qq
    fi
    local work=$cache/qt-build
    rm -rf "$work" && mkdir -p "$work"
    (cd "$work" && apt-get source -qq qt6-base >/dev/null)
    local source
    source=$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*')
    # Tablets are left out: Debian's source lacks the wintab header that support needs. With
    # Direct2D left out, the DirectWrite 3 font database is too (the plugin would need it).
    # Network plays the scripts' side in the tests; its TLS backend does not compile with
    # mingw-w64 and nothing here needs it.
    cmake -S "$source" -B "$work/build" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
        -DCMAKE_INSTALL_PREFIX="$SELVANE_QT_MINGW" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_network=ON -DFEATURE_ssl=OFF -DFEATURE_schannel=OFF \
        -DFEATURE_dbus=OFF -DINPUT_opengl=no \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
        -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF -DFEATURE_jpeg=OFF \
        -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
    cmake --build "$work/build"
    cmake --install "$work/build" >/dev/null
    rm -rf "$work"
}

# A cache without Qt Network, which the tests use, is provided again.
if [[ ! -f $provided || ! -f $SELVANE_QT_MINGW/bin/Qt6Network.dll ]]; then
    mkdir -p "$cache"
    rm -rf "$SELVANE_QT_MINGW"
    if [[ -f $archive ]]; then
        echo "== Qt base for mingw: unpacking $(basename "$archive")"
        unpacked=$(mktemp -d "$cache/unpack.XXXXXX")
        tar -xJf "$archive" -C "$unpacked"
        mv "$unpacked/install" "$SELVANE_QT_MINGW"
        rm -rf "$unpacked"
    else
        echo "== Qt base for mingw: building it from Debian's source into $cache (about 40 minutes)"
        build_qt
    fi
    touch "$provided"
fi
[[ ${1:-} == --qt ]] && exit 0

scripts/deps.sh windows-app
echo "== windows-app: build"
# A build made against another Qt starts afresh: CMake keeps the toolchain it was set up with.
grep -qF "$SELVANE_QT_MINGW/" build/windows-app/CMakeCache.txt 2>/dev/null || rm -rf build/windows-app
cmake --preset windows-app >/dev/null
cmake --build --preset windows-app

throwaway_prefix
if [[ ${1:-} == --screenshot ]]; then
    on_screen scripts/windows-panel.sh docs/windows-main-window.png
    exit 0
fi
echo "== windows-app: tests (under Wine)"
on_screen ctest --preset windows-app
echo "== windows-app: the program under Wine"
on_screen scripts/windows-panel.sh build/windows-app/panel.png
echo "the panel ran under Wine, pressed by hand and by selvane-switch.exe and closed with its settings kept; the tools exported them as reg export does and scanned the bus"

echo "== windows-app: packages"
cmake --build --preset windows-app --target selvane_packages
# The later version, built from the same source for the upgrade: the installable programs only.
version=$(sed -n 's/^set(SELVANE_VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
next=${version%.*}.$((${version##*.} + 1))
grep -qF "$SELVANE_QT_MINGW/" build/windows-next/CMakeCache.txt 2>/dev/null || rm -rf build/windows-next
cmake --preset windows-app -B build/windows-next -DSELVANE_VERSION="$next" -DSELVANE_BUILD_TESTS=OFF \
    >/dev/null
cmake --build build/windows-next --target selvane_packages
scripts/windows-package.sh "$version" "$next"
