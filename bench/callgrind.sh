#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instruction counts (valgrind callgrind), which stay put on a noisy machine: one position
# press (1000 presses through bench_selvane, counted inside the press handler) and one
# start-up of the real program (counted inside MainWindow::Load, and for the whole process),
# and one run of the floor program up to its window shown.
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

"$(dirname "$0")/../scripts/seed_registry.py" "$work/registry.sqlite3" "SELVANE - Bench" Units=3 2.PAd=8
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
# The floor program (bench/floor) says "shown" once its window is up, and has no orderly end.
valgrind --tool=callgrind --callgrind-out-file="$work/floor.out" "$build/bin/floor_window" \
    >"$work/floor.txt" 2>/dev/null &
pid=$!
for _ in $(seq 600); do
    grep -q shown "$work/floor.txt" && break
    sleep 0.1
done
sleep 2
kill -TERM "$pid"
wait "$pid" || true
echo "instructions per press (handler):        $press"
echo "instructions per start-up (Load):        $(total "$work/load.out")"
echo "instructions per run (whole process):    $(total "$work/process.out")"
echo "instructions per run of the floor:        $(total "$work/floor.out")"
