"""Test windows on a private X display, owned by processes with chosen names.

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

    def open(self, exe_name, *options, client="window_owner.py"):
        """Opens a window; returns (process, the number it prints: its window id, or the
        process id of a Wayland client). Options as the client takes them."""
        path = os.path.join(self.dir, exe_name)
        if not os.path.exists(path):
            shutil.copy(os.path.realpath("/usr/bin/python3"), path)
        proc = tevoli_harness.spawn([path, os.path.join(os.path.dirname(os.path.abspath(__file__)), client),
                                     *options], env=self.env, stdin=-1, stdout=-1)
        self.clients.append(proc)
        line = proc.stdout.readline()
        if not line.strip():
            raise RuntimeError(f"test window {exe_name} did not start")
        return proc, int(line)

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
