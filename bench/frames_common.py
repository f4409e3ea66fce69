"""Timing and peak memory of commands, for the frames benchmarks."""
import os
import statistics
import subprocess
import time


def run_once(cmd):
    """Wall seconds, CPU seconds and peak RSS (MB) of one run."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{cmd[0]} failed")
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def measure(commands, runs=3):
    """Median wall and CPU seconds and largest peak RSS per named command. Runs
    are interleaved so that load from elsewhere falls on every command alike."""
    results = {name: [] for name in commands}
    for _ in range(runs):
        for name, cmd in commands.items():
            results[name].append(run_once(cmd))
    return {name: (statistics.median(w for w, _, _ in r), statistics.median(c for _, c, _ in r),
                   max(m for _, _, m in r)) for name, r in results.items()}
