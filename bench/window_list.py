"""tevoli-window --all against the same facts gathered with xdotool and xprop, 50 windows open
on Xvfb; then on a headless GNOME Shell with our extension, 10 native and 10 XWayland
windows, against the same script, which sees only the XWayland ones: on GNOME a user has
no tool that lists the native windows.

    python3 bench/window_list.py     (after scripts/build; runs its own Xvfb and GNOME Shell)
"""
import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "window")]
os.environ.setdefault("TEVOLI_BIN_DIR", os.path.join(ROOT, "build", "bin"))

import gnome_shell  # noqa: E402
import tevoli_harness  # noqa: E402
from window_clients import WindowClients  # noqa: E402

# What a user would script: every top-level window, its owner, class, title, type,
# state and size.
SCRIPT = r"""
for w in $(xdotool search --maxdepth 1 --class ''); do
  xprop -id "$w" _NET_WM_PID WM_CLASS _NET_WM_NAME WM_NAME _NET_WM_WINDOW_TYPE _NET_WM_STATE
  xdotool getwindowgeometry "$w"
  pid=$(xdotool getwindowpid "$w" 2>/dev/null) && readlink "/proc/$pid/exe"
done
"""


def median_ms(results, index):
    return results["results"][index]["median"] * 1000


def compare(env, script_dir):
    """(windows listed, our median ms, the script's median ms) on the display of `env`."""
    script = os.path.join(script_dir, "facts.sh")
    with open(script, "w") as f:
        f.write(SCRIPT)
    program = tevoli_harness.binary("tevoli-window")
    count = len(json.loads(subprocess.run([program, "--all"], env=env, capture_output=True,
                                          check=True).stdout)["windows"])
    report = os.path.join(script_dir, "hyperfine.json")
    subprocess.run(["hyperfine", "-N", "--warmup", "3", "--runs", "10", "--export-json", report,
                    f"{program} --all", f"bash {script}"], env=env, check=True, stdout=subprocess.DEVNULL)
    with open(report) as f:
        results = json.load(f)
    return count, median_ms(results, 0), median_ms(results, 1)


def on_xvfb(tmp):
    with tevoli_harness.PrivateX() as x:
        windows = WindowClients(x.env)
        try:
            names = ["zoom", "firefox", "gedit", "terminal", "editor"]
            for i in range(50):
                windows.open(names[i % len(names)], "--size", f"{300 + i * 10}x{250 + i * 5}",
                             "--title", f"Window {i} «title»", "--at", f"{i * 10},{i * 8}")
            return compare(x.env, tmp)
        finally:
            windows.close_all()


def on_gnome(tmp):
    with gnome_shell.PrivateGnomeShell(gnome_shell.built_extensions()) as shell:
        windows = WindowClients(shell.env)
        try:
            names = ["zoom", "firefox", "gedit", "terminal", "editor"]
            for i in range(10):
                size = f"{300 + i * 20}x{250 + i * 10}"
                windows.open_native(names[i % len(names)], "--size", size, "--title", f"Native {i}")
                windows.open(names[(i + 1) % len(names)], "--size", size, "--title", f"X {i}")
            return compare(shell.env, tmp)
        finally:
            windows.close_all()


def main():
    with tempfile.TemporaryDirectory() as tmp:
        runs = [("Xvfb", on_xvfb(tmp), "(goal < 30 ms)", "(goal <= 0.2x)"),
                ("GNOME", on_gnome(tmp), "", "(the script lists the 10 XWayland windows only)")]
    for where, (count, ours, theirs), goal, ratio_note in runs:
        print(f"{where}: windows listed: {count}")
        print(f"  tevoli-window --all   median {ours:8.2f} ms   {goal}")
        print(f"  xdotool+xprop script  median {theirs:8.2f} ms")
        print(f"  ratio {ours / theirs:.3f}x   {ratio_note}")


if __name__ == "__main__":
    main()
