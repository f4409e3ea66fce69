"""Timing and peak memory of commands, for the frames benchmarks."""
import os
import statistics
import subprocess
import time


def measure(cmd, runs=3, env=None, **kwargs):
    """Median wall seconds and largest peak RSS (MB) over `runs` runs."""
    times, peaks = [], []
    for _ in range(runs):
        start = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, **kwargs)
        _, status, usage = os.wait4(proc.pid, 0)
        times.append(time.monotonic() - start)
        peaks.append(usage.ru_maxrss / 1024)
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{cmd[0]} failed")
    return statistics.median(times), max(peaks)
