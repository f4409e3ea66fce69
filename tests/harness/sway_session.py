"""A headless sway session of our own, run as a desktop user would run it.

sway refuses to run as root, and the suite runs as root in CI: then the session,
its clients and the programs under test run as a system user made for it. Every
process dies with the test (PR_SET_PDEATHSIG) and the session's folder goes with it.
"""
import contextlib
import ctypes
import json
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time

import tevoli_harness

USER = "tevoli-desktop"
CONFIG = "output HEADLESS-1 resolution 1280x720\nxwayland enable\ndefault_border none\n"
_libc = ctypes.CDLL(None, use_errno=True)


def desktop_user():
    """(uid, gid) of the session: ours, or when we are root those of a user made for it."""
    if os.getuid() != 0:
        return os.getuid(), os.getgid()
    for _ in range(50):  # tests made at once may race to make the user
        with contextlib.suppress(KeyError):
            entry = pwd.getpwnam(USER)
            return entry.pw_uid, entry.pw_gid
        subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                        "--shell", "/usr/sbin/nologin", USER], capture_output=True)
        time.sleep(0.1)
    raise RuntimeError(f"could not make the user {USER}")


class PrivateSway:
    """sway on a headless 1280x720 output with XWayland. `env` reaches it as its own
    clients do (WAYLAND_DISPLAY, DISPLAY, SWAYSOCK); `spawn` and `run` start commands
    as the session's user."""

    def __enter__(self):
        self.uid, self.gid = desktop_user()
        self.dir = tempfile.mkdtemp(prefix="tevoli-sway-")
        os.chown(self.dir, self.uid, self.gid)
        self.env = {"HOME": self.dir, "XDG_RUNTIME_DIR": self.dir, "PATH": "/usr/bin:/bin", "SHELL": "/bin/sh",
                    "LANG": "C.UTF-8"}
        # The sanitizer build reads its settings from the environment.
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        config = self.file("config", CONFIG)
        self.log = open(os.path.join(self.dir, "sway.log"), "w")
        try:
            self.proc = self.spawn(["sway", "-c", config], stdout=self.log, stderr=subprocess.STDOUT,
                                   env=dict(self.env, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                                            WLR_LIBINPUT_NO_DEVICES="1"))
            tevoli_harness.wait_until(self._socket, 15, what="sway's socket")
            displays = os.path.join(self.dir, "displays")
            self.swaymsg("exec", f"echo $WAYLAND_DISPLAY $DISPLAY > {displays}.new && mv {displays}.new {displays}")
            tevoli_harness.wait_until(lambda: os.path.exists(displays), 15, what="sway's displays")
            with open(displays) as f:
                wayland, x = f.read().split()
            self.env.update(WAYLAND_DISPLAY=wayland, DISPLAY=x)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _socket(self):
        if self.proc.poll() is not None:
            raise RuntimeError("sway exited: " + open(self.log.name).read())
        sockets = [n for n in os.listdir(self.dir) if n.startswith("sway-ipc.")]
        if sockets:
            self.env["SWAYSOCK"] = os.path.join(self.dir, sockets[0])
        return bool(sockets)

    def __exit__(self, *exc):
        if hasattr(self, "proc"):
            tevoli_harness.stop(self.proc)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def file(self, name, text="", source=None):
        """A file in the session's folder that its user may run or read: a copy of
        `source` (a program, kept executable) or `text`."""
        path = os.path.join(self.dir, name)
        if source:
            shutil.copy(source, path)
        else:
            with open(path, "w") as f:
                f.write(text)
        os.chmod(path, 0o755)
        return path

    def _as_user(self):
        os.setsid()
        os.setgroups([])
        os.setgid(self.gid)
        os.setuid(self.uid)
        _libc.prctl(tevoli_harness.PR_SET_PDEATHSIG, signal.SIGKILL)  # after setuid, which clears it

    def spawn(self, cmd, env=None, **kwargs):
        return subprocess.Popen(cmd, preexec_fn=self._as_user, env=env or self.env, cwd=self.dir, **kwargs)

    def run(self, cmd, env=None, timeout=30, **kwargs):
        for stream in ("stdin", "stdout", "stderr"):
            kwargs.setdefault(stream, subprocess.DEVNULL if stream == "stdin" else subprocess.PIPE)
        return subprocess.run(cmd, preexec_fn=self._as_user, env=env or self.env, cwd=self.dir, timeout=timeout,
                              **kwargs)

    def swaymsg(self, *args):
        result = self.run(["swaymsg", *args])
        if result.returncode != 0:
            raise RuntimeError(f"swaymsg {args}: {result.stdout} {result.stderr}")
        return result.stdout

    def views(self):
        """sway's windows (nodes with a pid), by container id."""
        found = {}

        def walk(node):
            if "pid" in node:
                found[node["id"]] = node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(json.loads(self.swaymsg("-t", "get_tree")))
        return found

    def place(self, criteria, width, height, x, y):
        """Floats a window (once it is there) at a known place and size; returns its node
        once sway shows it so."""
        key, value = criteria.split("=", 1)

        def found(rect=None):
            return [v for v in self.views().values() if (rect is None or v["rect"] == rect) and value == (
                v.get("app_id") if key == "app_id" else (v.get("window_properties") or {}).get("class"))]
        tevoli_harness.wait_until(found, 15, what=criteria)
        self.swaymsg(f"[{criteria}] floating enable, resize set {width} {height}, move position {x} {y}")
        rect = {"x": x, "y": y, "width": width, "height": height}
        tevoli_harness.wait_until(lambda: found(rect), 15, what=f"{criteria} at {rect}")
        return found(rect)[0]
