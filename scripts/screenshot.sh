#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the README's screenshot: the main window with three units under Xvfb, from a
# registry seeded with three units and a few labels, saved as docs/main-window.png.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" screenshot
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
registry="$work/registry.sqlite3"
dword() { printf "X'%02x%02x%02x%02x'" $(( $1 & 255 )) $(( ($1 >> 8) & 255 )) $(( ($1 >> 16) & 255 )) $(( ($1 >> 24) & 255 )); }
text() { printf "CAST(%s || X'00' AS BLOB)" "'$1'"; }
context='HKEY_LOCAL_MACHINE\SOFTWARE\Talvern Software\SELVANE - Bench'
{
    echo "CREATE TABLE registry_key(path TEXT PRIMARY KEY COLLATE NOCASE);"
    echo "CREATE TABLE registry_value(key TEXT NOT NULL COLLATE NOCASE REFERENCES registry_key(path) ON DELETE CASCADE, name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));"
    for key in 'HKEY_LOCAL_MACHINE' 'HKEY_LOCAL_MACHINE\SOFTWARE' 'HKEY_LOCAL_MACHINE\SOFTWARE\Talvern Software' "$context"; do
        echo "INSERT INTO registry_key VALUES('$key');"
    done
    value() { echo "INSERT INTO registry_value VALUES('$context', '$1', $2, $3);"; }
    value Units 4 "$(dword 3)"
    value X 4 "$(dword 300)"
    value Y 4 "$(dword 300)"
    value 2.PAd 4 "$(dword 8)"
    value 3.PAd 4 "$(dword 9)"
    value 1.A.title 1 "$(text 'Input')"
    value 1.B.title 1 "$(text 'Output')"
    value 1.A1.label 1 "$(text 'Antenna')"
    value 1.A2.label 1 "$(text 'Cal 50 Ω')"
    value 1.B1.label 1 "$(text 'Analyser')"
    value 1.B2.label 1 "$(text 'Meter')"
    value 1.B3.label 1 "$(text '')"
    value 1.B4.label 1 "$(text '')"
} | sqlite3 "$registry"

out="$top/docs/main-window.png"
mkdir -p "$top/docs"
SELVANE_REGISTRY="$registry" \
SELVANE_GPIB_LIBRARY="${SELVANE_GPIB_LIBRARY:-$top/build/release/lib/libgpib-sim.so}" \
SELVANE_SIM_DEVICES="0:7:0 0:8:0" \
xvfb-run -a -s "-screen 0 640x240x24 -dpi 96" bash -c '
    "$1" Bench &
    pid=$!
    sleep 3
    # Select A2 and B1 on the first unit (the window stands at 20,20 pixels).
    xdotool mousemove 58 77 click 1 mousemove 130 61 click 1 mousemove 600 200
    sleep 1
    import -window root -crop 500x165+0+0 +repage "$2"
    kill -TERM $pid
    wait $pid || true
' _ "$top/build/release/bin/selvane" "$out"
echo "screenshot: $out"
