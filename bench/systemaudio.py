#!/usr/bin/env python3
"""tevoli-systemaudio against parec: both record the same sink monitor for 30 s of
playing audio, side by side, as float32 stereo with the same small fragments; prints
each one's CPU time and peak memory and the ratios, then the time from start to the
header line.

    bench/systemaudio.py [seconds]      (after scripts/build)
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
os.environ.setdefault("TEVOLI_BIN_DIR", os.path.join(ROOT, "build", "bin"))

import tevoli_harness  # noqa: E402
from systemaudio_client import SystemAudioCapture  # noqa: E402

FRAGMENT_MS = 15  # what tevoli-systemaudio asks the server for
HEADER_RUNS = 20


class Recorder:
    """A recording process whose output is counted and thrown away."""

    def __init__(self, name, cmd, env):
        self.name = name
        self.bytes = 0
        self.proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._drain, daemon=True)
        self.thread.start()

    def _drain(self):
        while data := os.read(self.proc.stdout.fileno(), 1 << 16):
            self.bytes += len(data)

    def peak_rss_kb(self):
        # VmHWM starts afresh at exec; wait4's ru_maxrss would include the forked
        # Python interpreter.
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.rss_kb = self.peak_rss_kb()
        self.proc.send_signal(signal.SIGTERM)
        _, status, usage = os.wait4(self.proc.pid, 0)
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        self.thread.join()
        self.proc.stdout.close()
        self.cpu = usage.ru_utime + usage.ru_stime


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30.0
    ours = tevoli_harness.binary("tevoli-systemaudio")
    with tevoli_harness.PrivatePulse() as pulse, tempfile.TemporaryDirectory() as work:
        music = os.path.join(work, "music.wav")
        subprocess.run(["sox", "-n", "-r", str(pulse.rate), "-c", "2", music, "synth",
                        str(seconds + 5), "sine", "220-880", "sine", "330", "vol", "0.4"], check=True)
        player = pulse.play(music)
        monitor = pulse.SINK + ".monitor"
        parec = ["parec", f"--device={monitor}", "--raw", "--format=float32le", "--channels=2",
                 f"--rate={pulse.rate}"]
        recorders = [Recorder("tevoli-systemaudio", [ours], pulse.env),
                     Recorder("parec", parec + [f"--latency-msec={FRAGMENT_MS}"], pulse.env),
                     Recorder("parec (default fragments)", parec, pulse.env)]
        time.sleep(seconds)
        for r in recorders:
            r.stop()
        tevoli_harness.stop(player)

        header_ms = []
        for _ in range(HEADER_RUNS):
            capture = SystemAudioCapture(pulse.env)
            header_ms.append((capture.header_time - capture.started) * 1000)
            capture.finish(signal.SIGTERM)

    ours_r, parec_r, parec_default = recorders
    print(f"{seconds:.0f} s of playing audio, {pulse.rate} Hz float32 stereo, same monitor, side by side")
    print(f"{'':28}{'CPU s':>8}{'peak RSS MB':>13}{'MB captured':>13}")
    for r in recorders:
        print(f"{r.name:28}{r.cpu:8.3f}{r.rss_kb / 1024:13.1f}{r.bytes / 1e6:13.1f}")
    print(f"CPU ratio tevoli-systemaudio / parec ({FRAGMENT_MS} ms fragments): "
          f"{ours_r.cpu / max(parec_r.cpu, 1e-9):.2f}; "
          f"against default parec: {ours_r.cpu / max(parec_default.cpu, 1e-9):.2f}")
    print(f"peak memory ratio: {ours_r.rss_kb / parec_r.rss_kb:.2f}")
    print(f"start to header line over {HEADER_RUNS} runs: median {statistics.median(header_ms):.1f} ms, "
          f"max {max(header_ms):.1f} ms (goal < 100 ms)")


if __name__ == "__main__":
    main()
