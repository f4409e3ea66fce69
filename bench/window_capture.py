"""Capture of a 1280x720 window: tevoli-window --capture against ImageMagick's
import -window, side by side, both as it is (1280x720) and scaled to the same
2560x1440 picture we write; then the latency of one "shoot" in watch mode. The same
on a headless KWin for a native window, against a ScreenShot2 call made by hand
through GIO's D-Bus with ImageMagick writing the 2560x1440 JPEG (bench/kwin_by_hand.py).
On a headless GNOME Shell with our extension: a native 960x540 window (Mutter's screen
cast) beside an XWayland window of the same size, captured by us (X11) and by import
-window -resize 200%, and the shoot latency of watch mode on the native one.
Then on a headless sway, a 640x360 native window against grim's copy of its region at
the same 1280x720 size (Debian's grim writes no JPEG: PNG, its default, and PPM).

    python3 bench/window_capture.py     (after scripts/build; runs its own Xvfb, KWin, GNOME Shell and sway)
"""
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "window")]
os.environ.setdefault("TEVOLI_BIN_DIR", os.path.join(ROOT, "build", "bin"))

import tevoli_harness  # noqa: E402
from tevoli_harness import PrivateGnomeShell, PrivateKWin, PrivateSway, built_extensions  # noqa: E402
from window_clients import WindowClients  # noqa: E402

BY_HAND = os.path.join(ROOT, "bench", "kwin_by_hand.py")


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


def kwin_capture(program):
    """Medians of a capture on KWin, ours and by hand, and our watch mode's shots."""
    with tempfile.TemporaryDirectory() as tmp:
        # KWin grants screenshots by executable path: the by-hand interpreter gets its own.
        python = os.path.join(tmp, "by-hand-python")
        shutil.copy(os.path.realpath("/usr/bin/python3"), python)
        with PrivateKWin(authorised=[program, python]) as kwin:
            native = WindowClients(dict(kwin.env, GDK_BACKEND="wayland"))
            try:
                native.open("zoom", "--size", "1280x720", "--color", "2d8cff", "--title", "Bench",
                            client="wayland_window.py")

                def find(command, key, value):
                    """The id under which a listing (ours, or by hand) names the window."""
                    listed = json.loads(subprocess.run(command, env=kwin.env, capture_output=True).stdout)
                    windows = listed["windows"] if isinstance(listed, dict) else listed
                    return next((w["id"] for w in windows if w[key] == value), None)
                tevoli_harness.wait_until(lambda: find([program], "title", "Bench"), 60, 0.2, what="the window")
                window = find([program], "title", "Bench")
                uuid = find([python, BY_HAND, "list"], "caption", "Bench")
                report = os.path.join(tmp, "hyperfine.json")
                subprocess.run(["hyperfine", "-N", "--warmup", "2", "--runs", "10", "--export-json", report,
                                f"{program} --capture {window} {tmp}/ours.jpg",
                                f"{python} {BY_HAND} capture {uuid} {tmp}/theirs.jpg"],
                               env=kwin.env, check=True, stdout=subprocess.DEVNULL)
                with open(report) as f:
                    results = json.load(f)["results"]
                shots = shoot_latencies(program, window, kwin.env, tmp, count=10)
            finally:
                native.close_all()
    return results[0]["median"] * 1000, results[1]["median"] * 1000, shots


def gnome_capture(program):
    """Medians of a capture on GNOME: the native window, the XWayland one (ours, and
    import -window), and our watch mode's shots of the native one."""
    with PrivateGnomeShell(built_extensions()) as shell, tempfile.TemporaryDirectory() as tmp:
        native = WindowClients(dict(shell.env, GDK_BACKEND="wayland"))
        x11 = WindowClients(shell.env)
        try:
            native.open("zoom", "--size", "960x540", "--color", "2d8cff", "--title", "Native", "--shadow",
                        client="wayland_window.py")
            xid = x11.open("zoom", "--size", "960x540", "--color", "2d8cff", "--title", "X")[1]
            listed = json.loads(subprocess.run([program], env=shell.env, capture_output=True, check=True).stdout)
            window = next(w["id"] for w in listed["windows"] if w["title"] == "Native")
            report = os.path.join(tmp, "hyperfine.json")
            subprocess.run(["hyperfine", "-N", "--warmup", "2", "--runs", "10", "--export-json", report,
                            f"{program} --capture {window} {tmp}/native.jpg",
                            f"{program} --capture {xid} {tmp}/x.jpg",
                            f"import -window {xid} -resize 200% {tmp}/x-import.jpg"],
                           env=shell.env, check=True, stdout=subprocess.DEVNULL)
            with open(report) as f:
                medians = [r["median"] * 1000 for r in json.load(f)["results"]]
            return (*medians, shoot_latencies(program, window, shell.env, tmp, count=10))
        finally:
            native.close_all()
            x11.close_all()


def sway_figures():
    """Medians (ours, grim's PNG, grim's PPM) in ms of one 640x360 foot window copied at 1280x720."""
    with PrivateSway() as sway:
        program = sway.file("tevoli-window", source=tevoli_harness.binary("tevoli-window"))
        foot = sway.file("foot", source="/usr/bin/foot")
        client = sway.spawn([foot, "-a", "bench", "sh", "-c", "seq 1000; sleep 1000"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
        try:
            window = 0x80000000 | sway.place("[app_id=bench]", 640, 360, 100, 100)["id"]
            report = os.path.join(sway.dir, "hyperfine.json")
            sway.run(["hyperfine", "-N", "--warmup", "3", "--runs", "30", "--export-json", report,
                      f"{program} --capture {window} {sway.dir}/ours.jpg",
                      f"grim -g '100,100 640x360' -s 2 {sway.dir}/grim.png",
                      f"grim -g '100,100 640x360' -s 2 -t ppm {sway.dir}/grim.ppm"],
                     timeout=600, check=True)
            with open(report) as f:
                return [r["median"] * 1000 for r in json.load(f)["results"]]
        finally:
            tevoli_harness.stop(client)


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
    ours, theirs, shots = kwin_capture(program)
    print("KWin, a native 1280x720 window:")
    print(f"tevoli-window --capture (2560x1440 JPEG)           median {ours:7.2f} ms")
    print(f"ScreenShot2 by hand (GIO) + convert -resize 200%   median {theirs:7.2f} ms   ratio {ours / theirs:.3f}x")
    print(f"watch mode shoot latency  median {statistics.median(shots):6.2f} ms, "
          f"max {max(shots):6.2f} ms over {len(shots)} shots")
    native, x11, imported, shots = gnome_capture(program)
    print("GNOME Shell, 960x540 windows (1920x1080 JPEGs):")
    print(f"tevoli-window --capture, native (screen cast)   median {native:7.2f} ms")
    print(f"tevoli-window --capture, XWayland (X11)         median {x11:7.2f} ms")
    print(f"import -window -resize 200%, XWayland           median {imported:7.2f} ms   "
          f"ratio native/import {native / imported:.3f}x")
    print(f"watch mode shoot latency, native  median {statistics.median(shots):6.2f} ms, "
          f"max {max(shots):6.2f} ms over {len(shots)} shots")
    ours, png, ppm = sway_figures()
    print(f"sway: tevoli-window --capture (1280x720 JPEG)  median {ours:7.2f} ms")
    print(f"sway: grim -g -s 2 (1280x720 PNG)              median {png:7.2f} ms   ratio {ours / png:.3f}x"
          "   (goal <= 0.5x)")
    print(f"sway: grim -g -s 2 -t ppm (1280x720 PPM)       median {ppm:7.2f} ms   ratio {ours / ppm:.3f}x")


if __name__ == "__main__":
    main()
