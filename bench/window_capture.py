"""Capture of a 1280x720 window: tevoli-window --capture against ImageMagick's
import -window, side by side, both as it is (1280x720) and scaled to the same
2560x1440 picture we write; then the latency of one "shoot" in watch mode.

On a headless GNOME Shell with our extension: the capture of a native 960x540 window
(Mutter's screen cast) beside that of an XWayland window of the same size, through our X11
route and through import -window, and the shoot latency of watch mode on the native one.

    python3 bench/window_capture.py     (after scripts/build; runs its own Xvfb and GNOME Shell)
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

import gnome_shell  # noqa: E402
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


def hyperfine(commands, env, tmp, runs):
    report = os.path.join(tmp, "hyperfine.json")
    subprocess.run(["hyperfine", "-N", "--warmup", "3", "--runs", str(runs), "--export-json", report, *commands],
                   env=env, check=True, stdout=subprocess.DEVNULL)
    with open(report) as f:
        return [r["median"] * 1000 for r in json.load(f)["results"]]


def on_xvfb(program, tmp):
    with tevoli_harness.PrivateX() as x:
        windows = WindowClients(x.env)
        try:
            window = windows.open("zoom", "--size", "1280x720", "--color", "2d8cff")[1]
            medians = hyperfine([f"{program} --capture {window} {tmp}/ours.jpg",
                                 f"import -window {window} {tmp}/theirs.jpg",
                                 f"import -window {window} -resize 200% {tmp}/theirs-2x.jpg"], x.env, tmp, 30)
            return medians, shoot_latencies(program, window, x.env, tmp)
        finally:
            windows.close_all()


def on_gnome(program, tmp):
    with gnome_shell.PrivateGnomeShell(gnome_shell.built_extensions()) as shell:
        windows = WindowClients(shell.env)
        try:
            windows.open_native("zoom", "--size", "960x540", "--title", "Native", "--color", "2d8cff")
            xid = windows.open("zoom", "--size", "960x540", "--title", "X", "--color", "2d8cff")[1]
            listed = json.loads(subprocess.run([program], env=shell.env, capture_output=True, check=True).stdout)
            native = next(w["id"] for w in listed["windows"] if w["title"] == "Native")
            medians = hyperfine([f"{program} --capture {native} {tmp}/native.jpg",
                                 f"{program} --capture {xid} {tmp}/x.jpg",
                                 f"import -window {xid} -resize 200% {tmp}/x-import.jpg"], shell.env, tmp, 15)
            return medians, shoot_latencies(program, native, shell.env, tmp)
        finally:
            windows.close_all()


def main():
    program = tevoli_harness.binary("tevoli-window")
    with tempfile.TemporaryDirectory() as tmp:
        (ours, theirs, theirs2x), shots = on_xvfb(program, tmp)
        (native, x11, x_import), native_shots = on_gnome(program, tmp)
    print("Xvfb, a 1280x720 window:")
    print(f"  tevoli-window --capture (2560x1440 JPEG)     median {ours:7.2f} ms")
    print(f"  import -window (1280x720 JPEG)              median {theirs:7.2f} ms   ratio {ours / theirs:.3f}x")
    print(f"  import -window -resize 200% (2560x1440 JPEG) median {theirs2x:7.2f} ms   ratio {ours / theirs2x:.3f}x")
    print("  goal: ratio <= 0.5x")
    print(f"  watch mode shoot latency  median {statistics.median(shots):6.2f} ms, "
          f"max {max(shots):6.2f} ms over {len(shots)} shots   (goal < 50 ms)")
    print("GNOME Shell (headless), 960x540 windows:")
    print(f"  tevoli-window --capture, native window (screen cast)   median {native:7.2f} ms")
    print(f"  tevoli-window --capture, XWayland window (X11)         median {x11:7.2f} ms")
    print(f"  import -window -resize 200%, XWayland window           median {x_import:7.2f} ms   "
          f"ratio native/import {native / x_import:.3f}x")
    print(f"  watch mode shoot latency, native window  median {statistics.median(native_shots):6.2f} ms, "
          f"max {max(native_shots):6.2f} ms over {len(native_shots)} shots")


if __name__ == "__main__":
    main()
