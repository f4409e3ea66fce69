"""Test windows of processes with chosen names: X11 ones (window_owner.py) and Wayland
ones (wayland_window.py). An identity is read from /proc/<pid>/exe, which resolves
symlinks, so each name is a copy of the system's Python running the client."""
import os
import shutil
import tempfile

import tevoli_harness

HERE = os.path.dirname(os.path.abspath(__file__))


class WindowClients:
    """`folder` holds the copies and `spawn` starts them (a session's own, for its user)."""

    def __init__(self, env, folder=None, spawn=tevoli_harness.spawn):
        self.env, self.spawn, self.clients = env, spawn, []
        self.dir = tempfile.mkdtemp(prefix="tevoli-windows-", dir=folder)
        os.chmod(self.dir, 0o755)

    def open(self, exe_name, *options, client="window_owner.py"):
        """(process, the window id it prints, or a Wayland client's process id)."""
        path, script = os.path.join(self.dir, exe_name), os.path.join(self.dir, client)
        for copy, source in ((path, os.path.realpath("/usr/bin/python3")), (script, os.path.join(HERE, client))):
            if not os.path.exists(copy):
                shutil.copy(source, copy)
        self.clients.append(self.spawn([path, script, *options], env=self.env, stdin=-1, stdout=-1))
        return self.clients[-1], int(self.clients[-1].stdout.readline())

    @staticmethod
    def command(proc, line):
        """Sends a command to a test window and waits until the server has done it."""
        proc.stdin.write(line.encode() + b"\n")
        proc.stdin.flush()
        if proc.stdout.readline().strip() != b"ok":
            raise RuntimeError(f"test window did not do {line}")

    def close_all(self):
        for proc in self.clients:
            tevoli_harness.stop(proc)
            proc.stdin.close()
            proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)
