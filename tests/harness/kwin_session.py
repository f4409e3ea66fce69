"""A headless KDE Plasma compositor (KWin on Wayland, with XWayland) of our own.

KWin runs under a session bus of its own (dbus-run-session), with a private
"system" bus (else it waits on the machine's logind) and private XDG folders,
published to the bus's activation environment. The installed kwin_wayland carries
a file capability that a container's bounding set may lack, so a plain copy runs.
KWin grants its screenshot interface to a program only through an installed
.desktop file naming that interface: `authorised` programs get one under the
session's XDG_DATA_HOME before KWin starts.
"""
import glob
import os
import shutil
import signal
import subprocess
import tempfile

import tevoli_harness

SOCKET = "wl-test"
LAUNCH = r"""
dbus-daemon --session --address="unix:path=$XDG_RUNTIME_DIR/system_bus" --nofork --nopidfile &
while [ ! -S "$XDG_RUNTIME_DIR/system_bus" ]; do sleep 0.05; done
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/system_bus"
dbus-update-activation-environment HOME XDG_RUNTIME_DIR XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME \
  DBUS_SYSTEM_BUS_ADDRESS
kbuildsycoca5 --noincremental
echo "$DBUS_SESSION_BUS_ADDRESS" > "$XDG_RUNTIME_DIR/session_bus"
exec "$KWIN" --virtual --width 1280 --height 720 --xwayland --no-lockscreen --no-global-shortcuts \
  --no-kactivities --socket "$SOCKET"
"""

DESKTOP_FILE = """[Desktop Entry]
Type=Application
Name={name}
Exec={path}
NoDisplay=true
X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2
"""


def _children(pid):
    found = []
    for path in glob.glob(f"/proc/{pid}/task/*/children"):
        with open(path) as f:
            found += [int(child) for child in f.read().split()]
    return found


def _running(pid):
    """Whether the process exists and has not ended (a zombie has)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def _cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return [arg.decode() for arg in f.read().split(b"\0") if arg]
    except OSError:
        return []


class PrivateKWin:
    """KWin with a 1280x720 virtual output. `env` reaches it: WAYLAND_DISPLAY, DISPLAY
    (its XWayland), DBUS_SESSION_BUS_ADDRESS and the session's XDG folders."""

    def __init__(self, authorised=()):
        self.authorised = [os.path.abspath(path) for path in authorised]

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="tevoli-kwin-")
        folders = {name: os.path.join(self.dir, name.lower()) for name in
                   ("XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HOME")}
        for path in folders.values():
            os.makedirs(path, mode=0o700)
        applications = os.path.join(folders["XDG_DATA_HOME"], "applications")
        os.makedirs(applications)
        for i, path in enumerate(self.authorised):
            with open(os.path.join(applications, f"tevoli-test-{i}.desktop"), "w") as f:
                f.write(DESKTOP_FILE.format(name=os.path.basename(path), path=path))
        kwin = os.path.join(self.dir, "kwin_wayland")
        shutil.copy("/usr/bin/kwin_wayland", kwin)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "KWIN_COMPOSE")}
        env.update(folders, KWIN=kwin, SOCKET=SOCKET)
        self.log = open(os.path.join(self.dir, "kwin.log"), "w")
        self.proc = tevoli_harness.spawn(["dbus-run-session", "--", "sh", "-c", LAUNCH], env=env,
                                         stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        try:
            self.env = self._wait_ready(env, folders["XDG_RUNTIME_DIR"])
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _alive(self):
        if self.proc.poll() is not None:
            raise RuntimeError("KWin exited: " + open(self.log.name).read()[-3000:])
        return True

    def _wait_ready(self, env, runtime):
        bus_file = os.path.join(runtime, "session_bus")
        tevoli_harness.wait_until(lambda: self._alive() and os.path.exists(os.path.join(runtime, SOCKET))
                                  and os.path.getsize(bus_file) > 0, 60, what="KWin's socket")
        with open(bus_file) as f:
            env = dict(env, WAYLAND_DISPLAY=SOCKET, DBUS_SESSION_BUS_ADDRESS=f.read().strip())
        del env["KWIN"], env["SOCKET"]
        self.pid = self._kwin_pid()
        display = []

        def xwayland_ready():
            for child in _children(self.pid):
                args = _cmdline(child)
                if args and os.path.basename(args[0]) == "Xwayland":
                    display[:] = [arg for arg in args if arg.startswith(":")]
                    self.xwayland = child
            return self._alive() and display and os.path.exists(f"/tmp/.X11-unix/X{display[0][1:]}")
        tevoli_harness.wait_until(xwayland_ready, 60, what="KWin's XWayland")
        env["DISPLAY"] = display[0]
        # Screenshots need KWin's compositing up: its interface appears with it.
        tevoli_harness.wait_until(lambda: self._alive() and b"CaptureWindow" in subprocess.run(
            ["qdbus", "org.kde.KWin", "/org/kde/KWin/ScreenShot2"], env=env, capture_output=True).stdout,
            60, 0.1, what="KWin's screenshot interface")
        return env

    def _kwin_pid(self):
        for child in _children(self.proc.pid):
            if os.path.basename((_cmdline(child) or [""])[0]) == "kwin_wayland":
                return child
        raise RuntimeError("KWin is not running")

    def qdbus(self, *args):
        """A call to KWin with qdbus, as a user would make it; its standard output."""
        return subprocess.run(["qdbus", "org.kde.KWin", *args], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def __exit__(self, *exc):
        tevoli_harness.stop(self.proc)
        # KWin and its XWayland end a moment after the bus session: a display started
        # next must not meet theirs on its way out.
        for pid in (getattr(self, "pid", None), getattr(self, "xwayland", None)):
            try:
                tevoli_harness.wait_until(lambda: not pid or not _running(pid), 10, 0.05, what="KWin's end")
            except TimeoutError:
                os.kill(pid, signal.SIGKILL)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)
