#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the README's pictures of the states an operator meets, under Xvfb with a window
# manager, from a fresh registry file: three units in lock mode, edit mode with a label being
# typed, a unit with no instrument, the configuration dialog, and the unit-count dialog on a
# first start. Saved in docs/; each step waits for what it shows to be on the screen.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
source scripts/screen.sh

# Whether the text in the client area's box (x, y, width, height) reaches past column `right`.
inked_past() {
    local left top ink width offset
    read -r left top < <(client_origin)
    ink=$(import -window root -crop "$3x$4+$((left + $1))+$((top + $2))" png:- |
        convert - -fuzz 40% -trim -format '%w %X' info:)
    read -r width offset <<<"$ink"
    ((width + ${offset#+} > $5))
}

gone() {
    ! xdotool search --onlyvisible --name "$1" >/dev/null
}

# Whether the simulated bus was asked twice for a device at the primary address.
opened_twice() {
    (($(grep -c "\"call\":\"ibdev\",\"args\":\[0,$1," "$SELVANE_SIM_TRACE") >= 2))
}

if [[ ${1:-} == --take ]]; then # on the display of the caller
    main='^SELVANE V[0-9.]+ - Bench$'
    start "$main" build/release/bin/selvane Bench
    press_until 14 57 '#00FF00' # A2 and B1 of the first unit, each beside its caption
    press_until 86 41 '#00FF00'
    xdotool mousemove 0 0
    take docs/lock-mode.png

    # Edit: label boxes in place of the buttons, white as Fusion paints them.
    xdotool mousemove --window "$window" 112 112 click 1
    poll painted 14 41 '#FEFEFE' || fail "no label boxes: (14, 41) is $seen"
    xdotool mousemove --window "$window" 40 73 click 1 key ctrl+a type 'Load 50'
    poll inked_past 8 64 65 19 30 || fail "the typed label did not appear"
    take docs/edit-mode.png

    xdotool mousemove --window "$window" 200 112 click 1 # Config of the second unit
    poll shown '^Configuration$' || fail "no configuration dialog"
    take docs/configuration.png
    xdotool key Escape
    poll gone '^Configuration$' || fail "the configuration dialog did not close"
    end

    start '^SELVANE V[0-9.]+ - Spare$' build/release/bin/selvane Spare # no instrument there
    xdotool mousemove --window "$window" 14 41 click 1 mousemove 0 0
    poll opened_twice 12 || fail "the press did not try the link again"
    take docs/no-instrument.png
    end

    start '^Units$' build/release/bin/selvane 'New bench'
    take docs/unit-count.png
    end
    exit
fi

scripts/deps.sh screenshot
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SELVANE_REGISTRY="$work/registry.sqlite3"
scripts/seed_registry.py "$SELVANE_REGISTRY" "SELVANE - Bench" Units=3 X=300 Y=300 2.PAd=8 \
    3.PAd=9 "1.A.title:=Input" "1.B.title:=Output" "1.A1.label:=Antenna" \
    "1.A2.label:=Cal 50 Ω" "1.B1.label:=Analyser" "1.B2.label:=Meter" "1.B3.label:=" \
    "1.B4.label:="
scripts/seed_registry.py "$SELVANE_REGISTRY" "SELVANE - Spare" Units=1 X=300 Y=300 1.PAd=12 \
    "1.A.title:=Spare"
mkdir -p docs
QT_QPA_PLATFORM=xcb SELVANE_GPIB_LIBRARY="$top/build/release/lib/libgpib-sim.so" \
SELVANE_SIM_DEVICES="0:7:0 0:8:0" SELVANE_SIM_TRACE="$work/trace.jsonl" \
DBUS_SESSION_BUS_ADDRESS=disabled: \
    xvfb-run -a -s "-noreset -screen 0 800x500x24 -dpi 96" scripts/with-window-manager.sh "$0" --take
