#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A session of the real program under valgrind memcheck: start with three units, presses,
# edit and lock, the configuration dialog, then an orderly end. Fails on any invalid access
# or definite leak that the suppressions (platform libraries only, tests/valgrind.supp) do
# not cover.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh memcheck
cmake --preset release >/dev/null
cmake --build --preset release --target selvane gpib-sim >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=xcb # a real window under Xvfb, whatever the caller's platform
export SELVANE_REGISTRY="$work/registry.sqlite3"
export SELVANE_GPIB_LIBRARY="$top/build/release/lib/libgpib-sim.so"
export SELVANE_SIM_DEVICES="0:7:0 0:8:0"
export SELVANE_SIM_TRACE="$work/trace.jsonl"

# Three units (the third one's instrument absent), the window at 20,20 pixels (300 twips) so
# that clicks find the buttons.
scripts/seed_registry.py "$SELVANE_REGISTRY" "SELVANE - Memcheck" Units=3 X=300 Y=300 2.PAd=8 3.PAd=9

log="$work/memcheck.log"
xvfb-run -a -s "-noreset -screen 0 640x240x24 -dpi 96" bash -c '
    valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        --child-silent-after-fork=yes \
        --show-leak-kinds=definite --suppressions="$1/tests/valgrind.supp" \
        --log-file="$2" "$1/build/release/bin/selvane" Memcheck &
    pid=$!
    # The window is up once the display has mapped it (slow under valgrind).
    timeout 300 xdotool search --sync --onlyvisible --name "^SELVANE V" >/dev/null || exit 98
    sleep 2
    click() { xdotool mousemove "$1" "$2" click 1; sleep 3; }
    click 58 61    # A1 of unit 1
    click 130 77   # B2 of unit 1
    click 218 61   # A1 of unit 2
    click 130 132  # Edit of unit 1 ...
    click 130 132  # ... and Lock
    click 378 77   # A2 of unit 3 (absent instrument: red)
    click 58 132   # Config of unit 1
    xdotool key Escape; sleep 5
    kill -TERM $pid
    wait $pid
' _ "$top" "$log" && status=0 || status=$?

grep -E "Command:|ERROR SUMMARY|definitely lost" "$log" || true
if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "memcheck: errors in the session (exit status $status)" >&2
    exit 1
fi
# The session did what it claims: three presses went over the bus (the fourth found no
# instrument) and Config reopened unit 1.
writes=$(grep -c '"call":"ibwrt","args":\[[0-9]*,2\],"bytes":"4' "$SELVANE_SIM_TRACE" || true)
opens=$(grep -c '"call":"ibconfig"' "$SELVANE_SIM_TRACE" || true)
if [ "${writes:-0}" -lt 3 ] || [ "${opens:-0}" -lt 5 ]; then
    echo "memcheck: the session did not reach the panel (writes $writes, opens $opens)" >&2
    exit 1
fi
echo "memcheck: clean session ($(grep -c '"call"' "$SELVANE_SIM_TRACE") driver calls)"
