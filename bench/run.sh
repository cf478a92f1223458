#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the release preset and prints each benchmark figure beside its goal.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh build
cmake --preset release >/dev/null
cmake --build --preset release --target bench_selvane >/dev/null

json=$(mktemp)
trap 'rm -f "$json"' EXIT
build/release/bin/bench_selvane --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null

python3 - "$json" <<'PY'
import json, sys
goals = {  # benchmark -> (goal, unit)
    "BM_StartupReads42": (5.0, "ms"),
    "BM_ShutdownWrites42": (5.0, "ms"),
}
data = json.load(open(sys.argv[1]))
medians = {b["run_name"]: b for b in data["benchmarks"] if b.get("aggregate_name") == "median"}
print(f"{'benchmark':28} {'median':>12} {'goal':>10} {'ratio':>7}")
for b in medians.values():
    name = b["run_name"]
    value, unit = b["real_time"], b["time_unit"]
    goal = goals.get(name)
    if goal:
        ratio = value / goal[0]
        print(f"{name:28} {value:9.3f} {unit:2} {goal[0]:7.1f} {goal[1]:2} {ratio:6.2f}x"
              + ("" if ratio <= 1 else "  MISSED"))
    else:
        print(f"{name:28} {value:9.3f} {unit:2}")
direct = medians.get("BM_DriverCallDirect")
wrapped = medians.get("BM_DriverCallThroughBinding")
if direct and wrapped:
    overhead = wrapped["real_time"] - direct["real_time"]
    print(f"{'binding overhead per call':28} {overhead:9.1f} ns {100.0:7.1f} ns {overhead / 100:6.2f}x"
          + ("" if overhead <= 100 else "  MISSED"))
PY
