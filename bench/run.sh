#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every figure of the panel beside its goal or floor, in one run: the in-process benchmarks
# (settings, the binding, a press), whole-process start-up against the floor program on the
# offscreen platform and under Xvfb, and instruction counts under callgrind.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh memcheck >/dev/null # valgrind, Xvfb and python3 besides the build
cmake --preset release >/dev/null
cmake --build --preset release --target bench_selvane floor_window selvane gpib-sim >/dev/null

json=$(mktemp)
trap 'rm -f "$json"' EXIT
QT_QPA_PLATFORM=offscreen build/release/bin/bench_selvane --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=json \
    --benchmark_out="$json" --benchmark_out_format=json >/dev/null 2>&1

echo "== in-process (median of 5)"
python3 - "$json" <<'PY'
import json, sys
scale = {"ns": 1, "us": 1e3, "ms": 1e6}
medians = {b["run_name"]: b["real_time"] * scale[b["time_unit"]]
           for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"}
def show(name, value_ns, goal_ns, unit):
    div = scale[unit]
    line = f"  {name:34} {value_ns / div:10.3f} {unit}"
    if goal_ns:
        ratio = value_ns / goal_ns
        line += f"   goal {goal_ns / div:8.3f} {unit}   {ratio:5.2f}x" + ("" if ratio <= 1 else "  MISSED")
    print(line)
show("42 settings reads (start-up)", medians["BM_StartupReads42"], 5e6, "ms")
show("42 settings writes (shutdown)", medians["BM_ShutdownWrites42"], 5e6, "ms")
overhead = medians["BM_DriverCallThroughBinding"] - medians["BM_DriverCallDirect"]
show("binding overhead per driver call", overhead, 100, "ns")
show("  the same with the driver trace on", medians["BM_DriverCallTraced"] - medians["BM_DriverCallDirect"], None, "ns")
show("press: click to write", medians["BM_PressToWrite"], 50e3, "us")
show("press: with its repaint", medians["BM_PressWithRepaint"], None, "us")
show("press through an AR488 (pty, emulated)", medians["BM_PressThroughAdapter/ar488"], None, "us")
show("press through a Prologix (pty, emulated)", medians["BM_PressThroughAdapter/prologix"], None, "us")
show("script's press: socket to answer", medians["BM_ClientPressRoundTrip/script"], 1e6, "us")
show("SCPI close with *OPC?: port to answer", medians["BM_ClientPressRoundTrip/scpi"], 1e6, "us")
for client in ("script", "scpi"):
    stalls = [b["longest_stall_ms"] for b in json.load(open(sys.argv[1]))["benchmarks"]
              if b["run_name"] == f"BM_ThousandClientPresses/{client}" and b.get("aggregate_name") == "max"]
    show(f"1,000 {client} presses: longest stall", max(stalls or [float("nan")]) * 1e6, 50e6, "ms")
most = max(b["most_presses_per_turn"] for b in json.load(open(sys.argv[1]))["benchmarks"]
           if b["run_name"] == "BM_ThousandClientPresses/scpi")
print(f"  {'1,000 SCPI closes: presses per turn':34} {most:10.0f}      goal        1" + ("" if most <= 1 else "  MISSED"))
show("command line", medians["BM_CommandLine"], None, "ns")
show("export of one key of 20,000 values", medians["BM_SettingsTool/Export20000Values"], 1e9, "ms")
show("list of 12,000 instances", medians["BM_SettingsTool/List12000Instances"], 1e9, "ms")
PY

echo "== start-up, whole process (goal: within 1.10x the floor)"
QT_QPA_PLATFORM=offscreen python3 bench/startup.py build/release 21
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-noreset -screen 0 800x600x24 -dpi 96" \
    python3 bench/startup.py build/release 21

echo "== instruction counts (callgrind)"
bench/callgrind.sh build/release 2>/dev/null
