#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a program on the X server that xvfb-run started, with a window manager (twm) that
# frames every window, dialogs too, and keeps the position a program gives it.
rc=$(mktemp)
printf 'UsePPosition "on"\nRandomPlacement\nDecorateTransients\nNoGrabServer\n' >"$rc"
twm -f "$rc" >/dev/null 2>&1 &
wm=$!
"$@"
status=$?
kill "$wm"
rm -f "$rc"
exit "$status"
