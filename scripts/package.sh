#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package: built with CPack, every hardening feature on, then checked and used as
# installed (package-check.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh package
# Built apart with Debian's flags, every hardening feature on (the default gives RELRO
# only); Debian 12's dpkg has no control-flow protection to ask for.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake --preset release -B build/package -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" \
    -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" -DSELVANE_BUILD_TESTS=OFF -DSELVANE_BUILD_BENCH=OFF \
    >/dev/null
cmake --build build/package
rm -rf build/package/package
(cd build/package && cpack >/dev/null)
deb=$(echo build/package/package/selvane_*_amd64.deb)
echo "== package: $deb"
exec scripts/package-check.sh "$deb"
