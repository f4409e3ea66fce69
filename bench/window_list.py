"""tevoli-window --all against the same facts gathered with xdotool and xprop, 50 windows
open; then on a headless KWin with 10 native and 10 XWayland windows, against a KWin
script loaded and answered by hand through GIO's D-Bus (bench/kwin_by_hand.py); then on a
headless GNOME Shell with our extension and 10 native and 10 XWayland windows, against
the xdotool and xprop script, which sees only the XWayland ones: on GNOME a user has no
tool that lists the native windows.
Then on a headless sway with 10 native windows, against `swaymsg -t get_tree`.

    python3 bench/window_list.py     (after scripts/build; runs its own Xvfb, KWin, GNOME Shell and sway)
"""
import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "window")]
os.environ.setdefault("TEVOLI_BIN_DIR", os.path.join(ROOT, "build", "bin"))

import tevoli_harness  # noqa: E402
from tevoli_harness import PrivateGnomeShell, PrivateKWin, PrivateSway, built_extensions  # noqa: E402
from window_clients import WindowClients  # noqa: E402

BY_HAND = os.path.join(ROOT, "bench", "kwin_by_hand.py")

# What a user would script: every top-level window, its owner, class, title, type,
# state and size.
SCRIPT = r"""
for w in $(xdotool search --maxdepth 1 --class ''); do
  xprop -id "$w" _NET_WM_PID WM_CLASS _NET_WM_NAME WM_NAME _NET_WM_WINDOW_TYPE _NET_WM_STATE
  xdotool getwindowgeometry "$w"
  pid=$(xdotool getwindowpid "$w" 2>/dev/null) && readlink "/proc/$pid/exe"
done
"""


def medians_ms(env, warmup, *commands):
    """hyperfine's median of each command, 10 runs each, in milliseconds."""
    with tempfile.TemporaryDirectory() as tmp:
        report = os.path.join(tmp, "hyperfine.json")
        subprocess.run(["hyperfine", "-N", "--warmup", str(warmup), "--runs", "10", "--export-json", report,
                        *commands], env=env, check=True, stdout=subprocess.DEVNULL)
        with open(report) as f:
            return [result["median"] * 1000 for result in json.load(f)["results"]]


def kwin_list(program):
    """Medians of listing on KWin: ours, and the script loaded by hand."""
    with PrivateKWin() as kwin:
        native = WindowClients(dict(kwin.env, GDK_BACKEND="wayland"))
        x11 = WindowClients(kwin.env)
        try:
            for i in range(10):
                native.open(["zoom", "gedit"][i % 2], "--size", f"{400 + i * 10}x{300 + i * 5}",
                            "--title", f"Native {i}", client="wayland_window.py")
                x11.open(["firefox", "terminal"][i % 2], "--size", f"{400 + i * 10}x{300 + i * 5}",
                         "--title", f"X {i}")
            tevoli_harness.wait_until(lambda: len(json.loads(subprocess.run(
                [program, "--all"], env=kwin.env, capture_output=True).stdout)["windows"]) == 20, 60, 0.2,
                what="20 windows listed")
            return medians_ms(kwin.env, 2, f"{program} --all", f"/usr/bin/python3 {BY_HAND} list")
        finally:
            native.close_all()
            x11.close_all()


def gnome_list(program):
    """Windows listed on GNOME, and the medians of ours and of the script."""
    with PrivateGnomeShell(built_extensions()) as shell, \
            tempfile.NamedTemporaryFile("w", suffix=".sh") as script:
        script.write(SCRIPT)
        script.flush()
        native = WindowClients(dict(shell.env, GDK_BACKEND="wayland"))
        x11 = WindowClients(shell.env)
        try:
            for i in range(10):
                native.open(["zoom", "gedit"][i % 2], "--size", f"{400 + i * 10}x{300 + i * 5}",
                            "--title", f"Native {i}", "--shadow", client="wayland_window.py")
                x11.open(["firefox", "terminal"][i % 2], "--size", f"{400 + i * 10}x{300 + i * 5}",
                         "--title", f"X {i}")
            count = len(json.loads(subprocess.run([program, "--all"], env=shell.env, capture_output=True,
                                                  check=True).stdout)["windows"])
            return (count, *medians_ms(shell.env, 3, f"{program} --all", f"bash {script.name}"))
        finally:
            native.close_all()
            x11.close_all()


def sway_figures(native_windows=10):
    """Medians (ours, swaymsg's) in ms and the count listed, with foot windows on sway."""
    with PrivateSway() as sway:
        program = sway.file("tevoli-window", source=tevoli_harness.binary("tevoli-window"))
        foot = sway.file("foot", source="/usr/bin/foot")
        sway.swaymsg("layout tabbed")  # every window at the output's size, listed
        clients = [sway.spawn([foot, "-a", f"term{i}", "-T", f"Terminal {i}", "sh", "-c", "sleep 1000"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for i in range(native_windows)]
        try:
            tevoli_harness.wait_until(lambda: len(sway.views()) == native_windows, 30, what="the windows")
            count = len(json.loads(sway.run([program, "--all"]).stdout)["windows"])
            report = os.path.join(sway.dir, "hyperfine.json")
            sway.run(["hyperfine", "-N", "--warmup", "3", "--runs", "20", "--export-json", report,
                      f"{program} --all", "swaymsg -t get_tree"], timeout=600, check=True)
            with open(report) as f:
                results = json.load(f)
        finally:
            for proc in clients:
                tevoli_harness.stop(proc)
    return results["results"][0]["median"] * 1000, results["results"][1]["median"] * 1000, count


def main():
    with tevoli_harness.PrivateX() as x, tempfile.TemporaryDirectory() as tmp:
        windows = WindowClients(x.env)
        try:
            names = ["zoom", "firefox", "gedit", "terminal", "editor"]
            for i in range(50):
                windows.open(names[i % len(names)], "--size", f"{300 + i * 10}x{250 + i * 5}",
                             "--title", f"Window {i} «title»", "--at", f"{i * 10},{i * 8}")
            script = os.path.join(tmp, "facts.sh")
            with open(script, "w") as f:
                f.write(SCRIPT)
            program = tevoli_harness.binary("tevoli-window")
            count = len(json.loads(subprocess.run([program, "--all"], env=x.env, capture_output=True,
                                                  check=True).stdout)["windows"])
            ours, theirs = medians_ms(x.env, 3, f"{program} --all", f"bash {script}")
        finally:
            windows.close_all()
    print(f"windows listed: {count}")
    print(f"tevoli-window --all   median {ours:8.2f} ms   (goal < 30 ms)")
    print(f"xdotool+xprop script  median {theirs:8.2f} ms")
    print(f"ratio {ours / theirs:.3f}x   (goal <= 0.2x)")
    ours, theirs = kwin_list(program)
    print("KWin, 10 native and 10 XWayland windows:")
    print(f"tevoli-window --all          median {ours:8.2f} ms")
    print(f"KWin script by hand (GIO)    median {theirs:8.2f} ms")
    print(f"ratio {ours / theirs:.3f}x")
    count, ours, theirs = gnome_list(program)
    print(f"GNOME Shell, 10 native and 10 XWayland windows: {count} listed")
    print(f"tevoli-window --all          median {ours:8.2f} ms")
    print(f"xdotool+xprop script         median {theirs:8.2f} ms   (the 10 XWayland windows only)")
    print(f"ratio {ours / theirs:.3f}x")
    ours, theirs, count = sway_figures()
    print(f"sway, {count} native windows listed:")
    print(f"tevoli-window --all          median {ours:8.2f} ms   (goal < 30 ms)")
    print(f"swaymsg -t get_tree          median {theirs:8.2f} ms   ratio {ours / theirs:.3f}x")


if __name__ == "__main__":
    main()
