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
"$top/scripts/seed_registry.py" "$registry" "SELVANE - Bench" Units=3 X=300 Y=300 2.PAd=8 3.PAd=9 \
    "1.A.title:=Input" "1.B.title:=Output" "1.A1.label:=Antenna" "1.A2.label:=Cal 50 Ω" \
    "1.B1.label:=Analyser" "1.B2.label:=Meter" "1.B3.label:=" "1.B4.label:="

out="$top/docs/main-window.png"
mkdir -p "$top/docs"
QT_QPA_PLATFORM=xcb SELVANE_REGISTRY="$registry" \
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
