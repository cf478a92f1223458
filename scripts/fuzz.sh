#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for the given time (seconds,
# default 60), starting from the seed corpus in fuzz/corpus. New inputs go to a scratch
# folder; a crash, leak or sanitizer report fails the run.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-60}

scripts/deps.sh fuzz
cmake --preset fuzz >/dev/null
targets=(command_line number_reading settings_store registry_file settings_import remote_request scpi_line)
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

# In memory when the system offers it: the registry targets write a file for every input.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
for target in "${targets[@]}"; do
    mkdir -p "$scratch/$target"
    log="$scratch/$target.log"
    echo "== fuzz_$target: ${seconds}s"
    if ! (cd "$scratch" && "$top/build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" \
            -print_final_stats=1 -max_len=4096 "$scratch/$target" "$top/fuzz/corpus/$target") \
            >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz_$target failed" >&2
        exit 1
    fi
    grep -E 'stat::number_of_executed_units' "$log" | sed "s/^/    fuzz_$target /"
done
