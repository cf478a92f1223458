#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the panel and starts it on its embedded default: the simulated GPIB bus with
# instruments at 0:7:0 and 0:8:0, and the demo's own settings file (SELVANE_DEMO=1), so that
# trying it never changes a bench's settings.
# Arguments are handed to the panel (an instance name, -clean or -?).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "run.sh: no display. Start the panel under a virtual X server instead:" >&2
    echo "    xvfb-run -a -s -noreset scripts/run.sh $*" >&2
    echo "(xvfb-run is in Debian's package xvfb.)" >&2
    exit 1
fi

scripts/deps.sh build
cmake --preset release >/dev/null
cmake --build --preset release

export SELVANE_GPIB_LIBRARY="${SELVANE_GPIB_LIBRARY:-$top/build/release/lib/libgpib-sim.so}"
export SELVANE_SIM_DEVICES="${SELVANE_SIM_DEVICES-0:7:0 0:8:0}"
export SELVANE_DEMO=1
exec "$top/build/release/bin/selvane" "$@"
