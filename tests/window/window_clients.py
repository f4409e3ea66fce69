"""Test windows on a private display (X11, or Wayland for native ones), owned by
processes with chosen names.

The identity rule reads /proc/<pid>/exe, which resolves symlinks, so each name
gets its own copy of Debian's Python interpreter (the one python3-xlib is for),
which runs window_owner.py.
"""
import os
import shutil
import tempfile

import tevoli_harness


class WindowClients:
    def __init__(self, env):
        self.env = env
        self.dir = tempfile.mkdtemp(prefix="tevoli-windows-")
        self.clients = []

    def open(self, exe_name, *options):
        """Opens an X window; returns (process, window id). Options as window_owner.py takes them."""
        proc, line = self._start(exe_name, "window_owner.py", options)
        return proc, int(line)

    def open_native(self, exe_name, *options):
        """Opens a Wayland window; returns its process. Options as native_window.py takes them."""
        return self._start(exe_name, "native_window.py", options)[0]

    def _start(self, exe_name, script, options):
        path = os.path.join(self.dir, exe_name)
        if not os.path.exists(path):
            shutil.copy(os.path.realpath("/usr/bin/python3"), path)
        proc = tevoli_harness.spawn([path, os.path.join(os.path.dirname(os.path.abspath(__file__)), script),
                                     *options], env=self.env, stdin=-1, stdout=-1)
        self.clients.append(proc)
        line = proc.stdout.readline()
        if not line.strip():
            raise RuntimeError(f"test window {exe_name} did not start")
        return proc, line

    @staticmethod
    def command(proc, line):
        """Sends a command to a test window and waits until the server has done it."""
        proc.stdin.write(line.encode() + b"\n")
        proc.stdin.flush()
        if proc.stdout.readline().strip() != b"ok":
            raise RuntimeError(f"test window did not do {line}")

    def close(self, proc):
        tevoli_harness.stop(proc)
        proc.stdin.close()
        proc.stdout.close()
        self.clients.remove(proc)

    def close_all(self):
        for proc in list(self.clients):
            self.close(proc)
        shutil.rmtree(self.dir, ignore_errors=True)
