#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Whole-process start-up figures: the panel (three units, both simulated instruments present,
settings already stored) against the floor program (the same 63 controls, no logic): wall
time from the start of the process until its window is shown and it waits for input (its main
thread settles in the event loop's poll), and peak memory over the whole run. Prints the
medians and their ratio to the floor.

    bench/startup.py BUILD_DIR [RUNS]
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1]
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
panel = os.path.join(build, "bin", "selvane")
floor = os.path.join(build, "bin", "floor_window")
sim = os.path.join(build, "lib", "libgpib-sim.so")


def seed(path):
    """Three units, the second one's instrument at address 8."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts",
                          "seed_registry.py")
    subprocess.run([sys.executable, script, path, "SELVANE - Bench", "Units=3", "X=300", "Y=300",
                    "2.PAd=8"], check=True)


def idle_in_event_loop(pid):
    """The main thread waits in poll(), the event loop's wait (syscall 7 on x86-64)."""
    try:
        with open(f"/proc/{pid}/syscall") as state:
            return state.read().startswith("7 ")
    except OSError:
        return False


def run_once(program, workdir):
    """Seconds from start until the window is shown and the program waits for input, and
    peak resident memory in KiB."""
    env = dict(os.environ)
    env.update(SELVANE_REGISTRY=os.path.join(workdir, "registry.sqlite3"),
               SELVANE_GPIB_LIBRARY=sim, SELVANE_SIM_DEVICES="0:7:0 0:8:0")
    env.pop("SELVANE_SIM_TRACE", None)
    command = [floor] if program == "floor" else [panel, "Bench"]
    start = time.perf_counter()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    # Idle for three samples a millisecond apart: a short wait for a display server's reply
    # during start-up does not count.
    settled = 0
    ready = None
    while settled < 3:
        if idle_in_event_loop(process.pid):
            if settled == 0:
                ready = time.perf_counter() - start
            settled += 1
            time.sleep(0.001)
        else:
            settled = 0
            time.sleep(0.0001)
    process.send_signal(signal.SIGTERM)
    _, _, usage = os.wait4(process.pid, 0)
    return ready, usage.ru_maxrss


def main():
    platform = os.environ.get("QT_QPA_PLATFORM", "xcb")
    with tempfile.TemporaryDirectory() as workdir:
        seed(os.path.join(workdir, "registry.sqlite3"))
        results = {"floor": [], "panel": []}
        for _ in range(runs):
            for program in results:
                results[program].append(run_once(program, workdir))
    floor_time = statistics.median(t for t, _ in results["floor"])
    floor_memory = statistics.median(m for _, m in results["floor"])
    print(f"start-up on {platform} ({runs} runs each)")
    for program, samples in results.items():
        wall = statistics.median(t for t, _ in samples)
        memory = statistics.median(m for _, m in samples)
        print(f"  {program:6} wall {wall * 1000:7.1f} ms ({wall / floor_time:4.2f}x floor)"
              f"   peak {memory / 1024:6.1f} MiB ({memory / floor_memory:4.2f}x floor)")


if __name__ == "__main__":
    main()
