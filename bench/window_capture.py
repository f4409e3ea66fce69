"""Capture of a 1280x720 window: tevoli-window --capture against ImageMagick's
import -window, side by side, both as it is (1280x720) and scaled to the same
2560x1440 picture we write; then the latency of one "shoot" in watch mode.

    python3 bench/window_capture.py     (after scripts/build; runs its own Xvfb)
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "window")]
os.environ.setdefault("TEVOLI_BIN_DIR", os.path.join(ROOT, "build", "bin"))

import tevoli_harness  # noqa: E402
from window_clients import WindowClients  # noqa: E402


def shoot_latencies(program, window, env, tmp, count=20):
    watch = subprocess.Popen([program, "--watch", str(window)], env=env, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
    try:
        assert watch.stdout.readline() == b"READY\n"
        times = []
        for i in range(count + 1):
            start = time.perf_counter()
            watch.stdin.write(f"shoot {tmp}/shot-{i}.jpg\n".encode())
            watch.stdin.flush()
            assert watch.stdout.readline() == b"ok\n"
            if i > 0:  # the first one may wait for the first frame
                times.append((time.perf_counter() - start) * 1000)
        watch.stdin.close()
        watch.wait(10)
        return times
    finally:
        tevoli_harness.stop(watch)


def main():
    with tevoli_harness.PrivateX() as x, tempfile.TemporaryDirectory() as tmp:
        windows = WindowClients(x.env)
        try:
            window = windows.open("zoom", "--size", "1280x720", "--color", "2d8cff")[1]
            program = tevoli_harness.binary("tevoli-window")
            report = os.path.join(tmp, "hyperfine.json")
            subprocess.run(["hyperfine", "-N", "--warmup", "3", "--runs", "30", "--export-json", report,
                            f"{program} --capture {window} {tmp}/ours.jpg",
                            f"import -window {window} {tmp}/theirs.jpg",
                            f"import -window {window} -resize 200% {tmp}/theirs-2x.jpg"],
                           env=x.env, check=True, stdout=subprocess.DEVNULL)
            with open(report) as f:
                results = json.load(f)["results"]
            shots = shoot_latencies(program, window, x.env, tmp)
        finally:
            windows.close_all()
    ours, theirs, theirs2x = (r["median"] * 1000 for r in results)
    print(f"tevoli-window --capture (2560x1440 JPEG)     median {ours:7.2f} ms")
    print(f"import -window (1280x720 JPEG)              median {theirs:7.2f} ms   ratio {ours / theirs:.3f}x")
    print(f"import -window -resize 200% (2560x1440 JPEG) median {theirs2x:7.2f} ms   ratio {ours / theirs2x:.3f}x")
    print("goal: ratio <= 0.5x")
    print(f"watch mode shoot latency  median {statistics.median(shots):6.2f} ms, "
          f"max {max(shots):6.2f} ms over {len(shots)} shots   (goal < 50 ms)")


if __name__ == "__main__":
    main()
