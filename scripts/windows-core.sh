#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Qt-free core for Windows: built with mingw-w64 and its tests run under Wine (64-bit),
# against Wine's registry in a throw-away prefix; and the same core compiled and linked for
# 32-bit Windows, checking that gpib-sim.dll and gpib-prologix.dll export the driver's
# undecorated names.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh windows

source scripts/wine.sh
throwaway_prefix

echo "== windows-core (x86-64, under Wine)"
cmake --preset windows-core >/dev/null
cmake --build --preset windows-core

echo "== windows-core: the suite, an operator's settings and the demo's untouched by it"
for hive in HKLM HKCU; do # the panel's store, and the demo's (SELVANE_DEMO=1)
    root="$hive\SOFTWARE\Talvern Software"
    wine reg delete "$root" /reg:32 /f >/dev/null 2>&1 || true
    wine reg add "$root\SELVANE - Operator" /reg:32 /f /v Units /t REG_DWORD /d 2 >/dev/null
    wine reg add "$root\SELVANE - Operator" /reg:32 /f /v 1.A1.label /t REG_SZ /d Keep >/dev/null
    wine reg export "$root" "$WINEPREFIX/before-$hive.reg" /reg:32 /y >/dev/null
done
ctest --preset windows-core
for hive in HKLM HKCU; do
    wine reg export "$hive\SOFTWARE\Talvern Software" "$WINEPREFIX/after-$hive.reg" /reg:32 /y >/dev/null
    cmp "$WINEPREFIX/before-$hive.reg" "$WINEPREFIX/after-$hive.reg" || { echo "the settings in $hive changed" >&2; exit 1; }
done
echo "the seeded settings are byte for byte as they were"

echo "== windows-core-x86 (32-bit, compile and link)"
cmake --preset windows-core-x86 >/dev/null
cmake --build --preset windows-core-x86
for dll in gpib-sim gpib-prologix; do
    exports=$(i686-w64-mingw32-objdump -p build/windows-core-x86/bin/$dll.dll)
    for name in ibconfig ibdev ibclr ibwrt ibloc ibonl ibln RegisterGpibGlobalsForThread \
            UnregisterGpibGlobalsForThread; do
        grep -qE "\] $name\$" <<<"$exports" || { echo "$dll.dll (x86) lacks $name" >&2; exit 1; }
    done
done
echo "32-bit gpib-sim.dll and gpib-prologix.dll export the driver's undecorated names"
