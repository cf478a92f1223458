#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command on the current X display (Xvfb) under a window manager (openbox), which puts
# title bars and borders around windows as on a desktop, and ends the manager afterwards.
#   scripts/with-window-manager.sh COMMAND [ARGUMENT...]
set -uo pipefail
openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml >/dev/null 2>&1 &
manager=$!
# Managing once it has announced itself on the root window.
for _ in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    kill -0 "$manager" 2>/dev/null || { echo "with-window-manager: openbox did not start" >&2; exit 1; }
    sleep 0.1
done
"$@"
status=$?
kill "$manager"
wait "$manager" 2>/dev/null
exit "$status"
