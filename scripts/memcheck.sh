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
export SELVANE_REGISTRY="$work/registry.sqlite3"
export SELVANE_GPIB_LIBRARY="$top/build/release/lib/libgpib-sim.so"
export SELVANE_SIM_DEVICES="0:7:0 0:8:0"
export SELVANE_SIM_TRACE="$work/trace.jsonl"

# Three units, the window at 20,20 pixels (300 twips) so that clicks find the buttons.
python3 - "$SELVANE_REGISTRY" <<'PY'
import sqlite3, struct, sys
db = sqlite3.connect(sys.argv[1])
db.executescript("""
CREATE TABLE registry_key(path TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE registry_value(key TEXT NOT NULL COLLATE NOCASE REFERENCES registry_key(path)
    ON DELETE CASCADE, name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL,
    data BLOB NOT NULL, PRIMARY KEY(key, name));""")
context = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Memcheck"
for key in ["HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\SOFTWARE",
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software", context]:
    db.execute("INSERT INTO registry_key VALUES (?)", (key,))
for name, value in [("Units", 3), ("X", 300), ("Y", 300)]:
    db.execute("INSERT INTO registry_value VALUES (?, ?, 4, ?)", (context, name, struct.pack("<i", value)))
db.commit()
PY

log="$work/memcheck.log"
xvfb-run -a -s "-screen 0 640x240x24 -dpi 96" bash -c '
    valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        --child-silent-after-fork=yes \
        --show-leak-kinds=definite --suppressions="$1/tests/valgrind.supp" \
        --log-file="$2" "$1/build/release/bin/selvane" Memcheck &
    pid=$!
    # Start-up is done once the third unit was tried.
    for _ in $(seq 600); do
        opened=$(grep -c "\"call\":\"ibdev\"" "$SELVANE_SIM_TRACE" 2>/dev/null || true)
        [ "${opened:-0}" -ge 3 ] && break
        sleep 0.2
    done
    sleep 3
    click() { xdotool mousemove "$1" "$2" click 1; sleep 2; }
    click 58 61    # A1 of unit 1
    click 130 77   # B2 of unit 1
    click 218 61   # A1 of unit 2
    click 290 148  # Edit of unit 1 ...
    click 290 148  # ... and Lock
    click 378 77   # A2 of unit 3 (absent instrument: red)
    click 58 148   # Config of unit 1
    xdotool key Escape; sleep 3
    kill -TERM $pid
    wait $pid
' _ "$top" "$log" && status=0 || status=$?

grep -E "Command:|ERROR SUMMARY|definitely lost" "$log" || true
if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "memcheck: errors in the session (exit status $status)" >&2
    exit 1
fi
echo "memcheck: clean session ($(grep -c '"call"' "$SELVANE_SIM_TRACE") driver calls)"
