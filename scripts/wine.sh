# SPDX-License-Identifier: MIT
# Sourced by the scripts that run the Windows programs under Wine: a throw-away prefix, and
# a display of its own for each stage that shows windows.

# A new prefix in WINEPREFIX, made at once and quietly (a wineserver started later by a test
# would keep CTest's pipes open), and removed when the script ends, once its wineserver is
# gone: a folder freed while its server still runs could be reused by the next prefix.
throwaway_prefix() {
    export WINEPREFIX WINEDEBUG=-all
    WINEPREFIX=$(mktemp -d)
    trap '{ wineserver -k; wineserver -w; } >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
    wineboot -i >/dev/null 2>&1
}

# Runs the command on an Xvfb display under openbox. Each display gets a wineserver of its
# own: one that outlived its display (or started with none) keeps a desktop where no window
# can be made.
on_screen() {
    wineserver -w
    xvfb-run -a -s "-noreset -screen 0 1280x1024x24 -dpi 96" scripts/with-window-manager.sh "$@"
}
