#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instruction counts (valgrind callgrind), which stay put on a noisy machine: one position
# press (1000 presses through bench_selvane, counted inside the press handler) and one
# start-up of the real program (counted inside MainWindow::Load, and for the whole process).
#   bench/callgrind.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

total() { callgrind_annotate "$1" 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'; }

valgrind --tool=callgrind --callgrind-out-file="$work/press.out" \
    --toggle-collect='MainWindow::PositionPress*' \
    "$build/bin/bench_selvane" --benchmark_filter='BM_PressToWrite/iterations:1000$' \
    >/dev/null 2>&1
press=$(( $(total "$work/press.out") / 1000 ))

python3 - "$work/registry.sqlite3" <<'PY'
import sqlite3, struct, sys
db = sqlite3.connect(sys.argv[1])
db.executescript("""
CREATE TABLE registry_key(path TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE registry_value(key TEXT NOT NULL COLLATE NOCASE REFERENCES registry_key(path)
    ON DELETE CASCADE, name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL,
    data BLOB NOT NULL, PRIMARY KEY(key, name));""")
context = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\SELVANE - Bench"
for key in ["HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\SOFTWARE",
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software", context]:
    db.execute("INSERT INTO registry_key VALUES (?)", (key,))
for name, value in [("Units", 3), ("2.PAd", 8)]:
    db.execute("INSERT INTO registry_value VALUES (?, ?, 4, ?)", (context, name, struct.pack("<i", value)))
db.commit()
PY
run_startup() { # $1: output file, further arguments for valgrind
    local out=$1
    shift
    SELVANE_REGISTRY="$work/registry.sqlite3" SELVANE_GPIB_LIBRARY="$build/lib/libgpib-sim.so" \
    SELVANE_SIM_DEVICES="0:7:0 0:8:0" SELVANE_SIM_TRACE="$work/trace.jsonl" \
        valgrind --tool=callgrind --callgrind-out-file="$out" "$@" "$build/bin/selvane" Bench \
        >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 600); do
        written=$(grep -c '"bytes":"5858"' "$work/trace.jsonl" 2>/dev/null || true)
        [ "${written:-0}" -ge 3 ] && break
        sleep 0.1
    done
    sleep 2
    kill -TERM "$pid"
    wait "$pid" || true
    rm -f "$work/trace.jsonl"
}
run_startup "$work/load.out" --toggle-collect='MainWindow::Load*'
run_startup "$work/process.out"
echo "instructions per press (handler):        $press"
echo "instructions per start-up (Load):        $(total "$work/load.out")"
echo "instructions per run (whole process):    $(total "$work/process.out")"
