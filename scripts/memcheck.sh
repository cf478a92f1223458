#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A session of the real program under valgrind memcheck: start with three units, presses,
# edit and lock, the configuration dialog, then an orderly end. Fails on any invalid access
# or definite leak that the suppressions (platform libraries only, tests/valgrind.supp) do
# not cover.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/screen.sh

# How many lines of the trace are calls of `$1`.
calls() { grep -c "\"call\":\"$1\"" "$SELVANE_SIM_TRACE" 2>/dev/null || true; }
more_than() { [[ $("$1" "${@:3}") -gt $2 ]]; }

# On the display of the caller: the session, each step waited for by what it shows or what
# reaches the bus, never by a duration (so a session that ends well did all it claims).
if [[ ${1:-} == --session ]]; then
    start "^SELVANE V" valgrind --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite --child-silent-after-fork=yes \
        --show-leak-kinds=definite --suppressions="$top/tests/valgrind.supp" \
        --log-file="$2" "$top/build/release/bin/selvane" Memcheck
    poll more_than calls 2 ibconfig || fail "start-up did not open the three units"
    press_until 14 41 '#00FF00'  # A1 of unit 1, beside its caption (client coordinates)
    press_until 86 57 '#00FF00'  # B2 of unit 1
    press_until 174 41 '#00FF00' # A1 of unit 2
    xdotool mousemove --window "$window" 110 112 click 1 # Edit of unit 1: its buttons hide ...
    poll eval '! painted 14 41 "#00FF00"' || fail "Edit left A1 shown"
    xdotool mousemove --window "$window" 110 112 click 1 # ... and Lock shows them again
    poll painted 14 41 '#00FF00' || fail "Lock did not show A1 again"
    offline=$(calls ibonl)
    xdotool mousemove --window "$window" 358 57 click 1 # A2 of unit 3: no instrument there
    poll more_than calls "$offline" ibonl || fail "the press on unit 3 reached no driver"
    xdotool mousemove --window "$window" 38 112 click 1 # Config of unit 1
    poll shown "^Configuration\$" || fail "no configuration dialog"
    xdotool key Escape
    poll more_than calls 4 ibconfig || fail "the dialog did not reopen unit 1"
    end
    exit
fi

scripts/deps.sh memcheck
cmake --preset release >/dev/null
# All of it: a configure that now finds what an earlier stage installed (rsvg-convert) adds
# targets that an install of this build needs.
cmake --build --preset release >/dev/null

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
xvfb-run -a -s "-noreset -screen 0 640x240x24 -dpi 96" "$0" --session "$log" && status=0 || status=$?

grep -E "Command:|ERROR SUMMARY|definitely lost" "$log" || true
if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "memcheck: errors in the session (exit status $status)" >&2
    exit 1
fi
echo "memcheck: clean session ($(grep -c '"call"' "$SELVANE_SIM_TRACE") driver calls)"
