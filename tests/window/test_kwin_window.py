"""tevoli-window on a headless KDE Plasma compositor: native Wayland windows through
KWin's scripting and screenshot interfaces, XWayland windows through X11."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import tevoli_harness
from kwin_session import PrivateKWin
from media import pixel, read_image
from window_clients import WindowClients

PROGRAM = tevoli_harness.binary("tevoli-window")
RED, BLUE = (0xdd, 0x22, 0x11), (0x22, 0x33, 0xee)


def run(args, env):
    result = tevoli_harness.run("tevoli-window", *args, env=env, timeout=60)
    return result.returncode, result.stdout, result.stderr


def listing(args, env):
    status, out, err = run(args, env)
    assert (status, err) == (0, b"") and out.count(b"\n") == 1, (status, out, err)
    return json.loads(out)["windows"]


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


class KWinSession(unittest.TestCase):
    """One KWin that lets the built tevoli-window take screenshots, with a native
    meeting window, a native editor window and an XWayland browser window."""

    @classmethod
    def setUpClass(cls):
        cls.kwin = PrivateKWin(authorised=[PROGRAM]).__enter__()
        cls.addClassCleanup(cls.kwin.__exit__, None, None, None)
        cls.tmp = tempfile.mkdtemp(prefix="tevoli-kwin-test-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, True)
        cls.native = WindowClients(dict(cls.kwin.env, GDK_BACKEND="wayland"))
        cls.addClassCleanup(cls.native.close_all)
        cls.x11 = WindowClients(cls.kwin.env)
        cls.addClassCleanup(cls.x11.close_all)
        cls.zoom = cls.native.open("zoom", "--size", "640x480", "--title", "Weekly sync", "--color", "dd2211",
                                   client="wayland_window.py")[0]
        cls.notes = cls.native.open("gedit", "--size", "300x200", "--title", "notes", "--app-id", "Notes",
                                    client="wayland_window.py")[0]
        cls.browser = cls.x11.open("firefox", "--size", "500x400", "--title", "Call in browser")[1]
        cls.by_title = {}
        tevoli_harness.wait_until(cls.all_listed, 30, 0.2, what="every window listed")

    @classmethod
    def all_listed(cls):
        entries = listing(["--all"], cls.kwin.env)
        cls.by_title = {e["title"]: e for e in entries}
        cls.entries = entries
        return {"Weekly sync", "notes", "Call in browser"} <= set(cls.by_title)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def test_native_and_xwayland_windows_are_listed_once_each(self):
        zoom, notes, browser = (self.by_title[t] for t in ("Weekly sync", "notes", "Call in browser"))
        self.assertEqual([e["title"] for e in self.entries].count("Call in browser"), 1)
        self.assertEqual(zoom, {"id": zoom["id"], "app": "Zoom", "title": "Weekly sync", "width": 640,
                                "height": 480, "meeting": True})
        self.assertEqual(notes, {"id": notes["id"], "app": "Notes", "title": "notes", "width": 300, "height": 200,
                                 "meeting": False})
        self.assertEqual(browser, {"id": self.browser, "app": "Browser", "title": "Call in browser", "width": 500,
                                   "height": 400, "meeting": True})
        # Native ids live above every XID, each the same on every listing.
        self.assertTrue(zoom["id"] & 0x80000000 and notes["id"] & 0x80000000 and zoom["id"] != notes["id"])
        meetings = listing([], self.kwin.env)
        self.assertIn(zoom, meetings)
        self.assertIn(browser, meetings)
        self.assertNotIn("notes", {e["title"] for e in meetings})

    def test_capture_and_watch_of_a_native_window(self):
        window = self.native.open("zoom", "--size", "480x360", "--title", "Watched", "--color", "dd2211",
                                  client="wayland_window.py")[0]
        tevoli_harness.wait_until(lambda: "Watched" in {e["title"] for e in listing([], self.kwin.env)}, 30, 0.2,
                                  what="the watched window")
        id_ = {e["title"]: e["id"] for e in listing([], self.kwin.env)}["Watched"]
        self.assertEqual(run(["--capture", str(id_), self.path("capture.jpg")], self.kwin.env), (0, b"", b""))
        image = read_image(self.path("capture.jpg"))
        self.assertEqual(image[:2], (960, 720))
        self.assertTrue(all(near(pixel(image, x, y), RED) for x, y in ((4, 4), (480, 360), (955, 715))))

        watch = tevoli_harness.spawn([PROGRAM, "--watch", str(id_)], env=self.kwin.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for stream in (watch.stdin, watch.stdout, watch.stderr):
            self.addCleanup(stream.close)
        self.addCleanup(tevoli_harness.stop, watch)

        def shoot(name):
            watch.stdin.write(b"shoot " + self.path(name).encode() + b"\n")
            watch.stdin.flush()
            return watch.stdout.readline()

        self.assertEqual(watch.stdout.readline(), b"READY\n")
        self.assertEqual(shoot("first.jpg"), b"ok\n")
        first = read_image(self.path("first.jpg"))
        self.assertEqual((first[:2], near(pixel(first, 480, 360), RED)), ((960, 720), True))
        WindowClients.command(window, "color 2233ee")
        tevoli_harness.wait_until(lambda: shoot("changed.jpg") == b"ok\n" and near(
            pixel(read_image(self.path("changed.jpg")), 480, 360), BLUE), 15, 0.2, what="the new colour")
        self.native.close(window)
        tevoli_harness.wait_until(lambda: shoot("gone.jpg") == b"err stopped\n", 15, 0.2, what="err stopped")
        watch.stdin.write(b"quit\n")
        watch.stdin.flush()
        self.assertEqual((watch.wait(timeout=10), watch.stderr.read()), (0, b""))

    def test_a_program_kwin_does_not_know_cannot_capture(self):
        # The same program at a path no .desktop file names.
        unknown = os.path.join(self.tmp, "elsewhere", "tevoli-window")
        os.makedirs(os.path.dirname(unknown))
        shutil.copy(PROGRAM, unknown)
        dest = self.path("refused.jpg")
        result = subprocess.run([unknown, "--capture", str(self.by_title["Weekly sync"]["id"]), dest],
                                env=self.kwin.env, capture_output=True, timeout=60)
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertRegex(result.stderr, rb"\Acapture: KWin refused the screenshot: .*"
                                        rb"X-KDE-DBUS-Restricted-Interfaces.*install.*\n\Z")
        self.assertFalse(os.path.exists(dest))


class KWinStopped(unittest.TestCase):
    def test_x11_windows_are_listed_while_kwin_hangs_and_the_script_goes_after(self):
        with PrivateKWin() as kwin:
            x11 = WindowClients(kwin.env)
            try:
                browser = x11.open("firefox", "--size", "500x400", "--title", "Call in browser")[1]
                tevoli_harness.wait_until(lambda: browser in {e["id"] for e in listing([], kwin.env)}, 30, 0.2,
                                          what="the X11 window")
                os.kill(kwin.pid, signal.SIGSTOP)
                try:
                    lister = subprocess.Popen([PROGRAM], env=kwin.env, stdout=subprocess.PIPE,
                                              stderr=subprocess.PIPE)
                    out, err = lister.communicate(timeout=60)
                finally:
                    os.kill(kwin.pid, signal.SIGCONT)
                self.assertEqual((lister.returncode, err), (0, b""))
                self.assertEqual(json.loads(out)["windows"],
                                 [{"id": browser, "app": "Browser", "title": "Call in browser", "width": 500,
                                   "height": 400, "meeting": True}])
                # KWin loads the script it was sent while it hung, then unloads it.
                loaded = kwin.qdbus("/Scripting", "org.kde.kwin.Scripting.isScriptLoaded",
                                    f"tevoli-window-{lister.pid}-1")
                self.assertEqual(loaded.strip(), "false")
            finally:
                x11.close_all()


if __name__ == "__main__":
    unittest.main()
