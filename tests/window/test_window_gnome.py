"""tevoli-window on a headless GNOME Shell (Wayland, with XWayland), with our Shell
extension installed from the build and without it."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import gnome_shell
import tevoli_harness
from media import pixel, read_image
from test_window_program import PROGRAM, facts, listing, near, run
from window_clients import WindowClients

RED, BLUE = (0xdd, 0x22, 0x11), (0x22, 0x33, 0xee)


def by_title(entries, title):
    return [e for e in entries if e["title"] == title]


class WithTheExtension(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shell = gnome_shell.PrivateGnomeShell(gnome_shell.built_extensions()).__enter__()
        cls.addClassCleanup(cls.shell.__exit__, None, None, None)
        cls.windows = WindowClients(dict(cls.shell.env, GDK_BACKEND="wayland"))
        cls.addClassCleanup(cls.windows.close_all)
        cls.tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.tmp.cleanup)
        cls.windows.open("zoom", "--size", "400x300", "--title", "Call «native»", "--color", "dd2211", "--shadow",
                         client="wayland_window.py")
        cls.xid = cls.windows.open("firefox", "--size", "500x400", "--title", "X call")[1]

    def test_all_lists_the_native_and_the_xwayland_window_once_each(self):
        entries = listing(["--all"], self.shell.env)[0]
        native, x11 = by_title(entries, "Call «native»"), by_title(entries, "X call")
        self.assertEqual(len(native), 1, entries)
        self.assertEqual(native[0]["id"] & 0x80000000, 0x80000000)
        self.assertEqual({k: native[0][k] for k in ("app", "width", "height", "meeting")},
                         {"app": "Zoom", "width": 400, "height": 300, "meeting": True})
        self.assertEqual(x11, [{"id": self.xid, "app": "Browser", "title": "X call", "width": 500, "height": 400,
                                "meeting": True}])
        # Without X, the Shell's list alone names the XWayland window, under its XID.
        no_x = {k: v for k, v in self.shell.env.items() if k != "DISPLAY"}
        self.assertEqual([(e["title"], e["id"]) for e in listing(["--all"], no_x)[0] if e["title"] == "X call"],
                         [("X call", self.xid)])

    def test_capture_of_the_native_window_is_its_own_pixels_at_twice_its_size(self):
        entry = by_title(listing([], self.shell.env)[0], "Call «native»")[0]
        dest = os.path.join(self.tmp.name, "native.jpg")
        self.assertEqual(run(["--capture", str(entry["id"]), dest], self.shell.env), (0, b"", b""))
        image = read_image(dest)
        self.assertEqual(image[:2], (800, 600))
        # The window fills the picture: its shadow and what lies around it do not show.
        for corner in ((3, 3), (796, 3), (3, 596), (796, 596)):
            self.assertTrue(near(pixel(image, *corner), RED), corner)

    def test_watch_follows_the_window_until_it_closes(self):
        window = self.windows.open("notes", "--size", "320x240", "--title", "Watched", "--color", "dd2211",
                                   client="wayland_window.py")[0]
        entry = by_title(listing(["--all"], self.shell.env)[0], "Watched")[0]
        watch = tevoli_harness.spawn([PROGRAM, "--watch", str(entry["id"])], env=self.shell.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for stream in (watch.stdin, watch.stdout, watch.stderr):
            self.addCleanup(stream.close)
        self.addCleanup(tevoli_harness.stop, watch)

        def shoot(name):
            watch.stdin.write(b"shoot " + os.path.join(self.tmp.name, name).encode() + b"\n")
            watch.stdin.flush()
            return watch.stdout.readline()

        self.assertEqual(watch.stdout.readline(), b"READY\n")
        self.assertEqual(shoot("first.jpg"), b"ok\n")
        self.assertEqual(facts(os.path.join(self.tmp.name, "first.jpg"))[:2], (640, 480))
        self.assertTrue(near(facts(os.path.join(self.tmp.name, "first.jpg"))[2], RED))
        WindowClients.command(window, "color 2233ee")
        tevoli_harness.wait_until(lambda: shoot("changed.jpg") == b"ok\n" and near(
            facts(os.path.join(self.tmp.name, "changed.jpg"))[2], BLUE), 10, 0.2, what="the new colour")
        self.windows.close(window)
        tevoli_harness.wait_until(lambda: shoot("gone.jpg") == b"err stopped\n", 10, 0.2, what="err stopped")
        watch.stdin.write(b"quit\n")
        watch.stdin.close()
        self.assertEqual((watch.wait(timeout=10), watch.stderr.read()), (0, b""))

    def test_the_extension_answers_only_tevoli_window(self):
        refused = self.shell.call("com.tevoli.WindowList", "/com/tevoli/WindowList",
                                  "com.tevoli.WindowList.GetWindows")
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn("org.freedesktop.DBus.Error.AccessDenied", refused.stderr)
        # The same program elsewhere is another program: only the XWayland window shows.
        copy = os.path.join(self.tmp.name, "tevoli-window")
        shutil.copy(PROGRAM, copy)
        result = subprocess.run([copy, "--all"], env=self.shell.env, capture_output=True, timeout=30)
        self.assertEqual([e["title"] for e in json.loads(result.stdout)["windows"]], ["X call"])


class WithoutTheExtension(unittest.TestCase):
    def test_the_xwayland_windows_are_listed_and_captured(self):
        with gnome_shell.PrivateGnomeShell() as shell, tempfile.TemporaryDirectory() as tmp:
            windows = WindowClients(dict(shell.env, GDK_BACKEND="wayland"))
            try:
                windows.open("zoom", "--size", "400x300", "--title", "Native", client="wayland_window.py")
                xid = windows.open("firefox", "--size", "500x400", "--title", "X call", "--color", "dd2211")[1]
                self.assertEqual(listing(["--all"], shell.env)[0], [
                    {"id": xid, "app": "Browser", "title": "X call", "width": 500, "height": 400, "meeting": True}])
                dest = os.path.join(tmp, "x.jpg")
                self.assertEqual(run(["--capture", str(xid), dest], shell.env), (0, b"", b""))
                self.assertTrue(near(facts(dest)[2], RED))
            finally:
                windows.close_all()

if __name__ == "__main__":
    unittest.main()
