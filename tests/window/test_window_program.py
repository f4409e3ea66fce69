"""tevoli-window run as the host runs it, against a private Xvfb and test windows."""
import json
import os
import socket
import subprocess
import tempfile
import unittest

import tevoli_harness
from window_clients import WindowClients

PROGRAM = tevoli_harness.binary("tevoli-window")
WATCH_USAGE = b"usage: tevoli-window --watch <windowid>\n"
CAPTURE_USAGE = b"usage: tevoli-window --capture <windowid> <dest>\n"


def run(args, env):
    result = subprocess.run([PROGRAM, *args], env=env, capture_output=True, timeout=30, stdin=subprocess.DEVNULL)
    return result.returncode, result.stdout, result.stderr


def listing(args, env):
    """The listed windows, after checking the run gave exactly one line and status 0."""
    status, out, err = run(args, env)
    assert (status, err) == (0, b"") and out.endswith(b"\n") and out.count(b"\n") == 1, (status, out, err)
    return json.loads(out)["windows"], out


class ListMode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = tevoli_harness.PrivateX().__enter__()
        cls.windows = WindowClients(cls.x.env)
        open_ = lambda *args: cls.windows.open(*args)[1]  # noqa: E731
        cls.zoom = open_("zoom", "--size", "1280x720")
        cls.firefox = open_("firefox", "--size", "800x600", "--title", 'Call "quoted"\ttab é 会議 🎥', "--at", "50,50")
        # A vendor's own type may come before the standard one.
        cls.gedit = open_("gedit", "--size", "300x200", "--title", "notes", "--class", "Gedit",
                          "--type", "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE,_NET_WM_WINDOW_TYPE_DIALOG")
        cls.latin = open_("gedit", "--size", "200x200", "--wm-name", os.fsdecode(b"caf\xe9"), "--no-pid", "--class", "")
        cls.hidden_small = open_("firefox", "--size", "899x600", "--unmapped")
        cls.hidden_big = open_("firefox", "--size", "900x600", "--unmapped")
        # Never listed: a dock, a popup and the host's own window.
        open_("gedit", "--size", "800x600", "--type", "_NET_WM_WINDOW_TYPE_DOCK,_NET_WM_WINDOW_TYPE_NORMAL")
        open_("zoom", "--size", "800x600", "--override-redirect")
        open_("tevoli", "--size", "800x600")

    @classmethod
    def tearDownClass(cls):
        cls.windows.close_all()
        cls.x.__exit__(None, None, None)

    def test_without_arguments_only_meeting_windows(self):
        entries, out = listing([], self.x.env)
        self.assertEqual([e["id"] for e in entries], [self.zoom, self.firefox, self.hidden_big])
        self.assertEqual(entries[0], {"id": self.zoom, "app": "Zoom", "title": "", "width": 1280,
                                      "height": 720, "meeting": True})
        self.assertIn('"app":"Browser","title":"Call \\"quoted\\"\\u0009tab é 会議 🎥"'.encode(), out)

    def test_all_lists_other_windows_too(self):
        by_id = {e["id"]: e for e in listing(["--all"], self.x.env)[0]}
        self.assertEqual(set(by_id), {self.zoom, self.firefox, self.gedit, self.latin, self.hidden_big})
        self.assertEqual(by_id[self.gedit], {"id": self.gedit, "app": "Gedit", "title": "notes", "width": 300,
                                             "height": 200, "meeting": False})
        # Owner found without _NET_WM_PID; no class name gives "App"; Latin-1 title converted.
        self.assertEqual((by_id[self.latin]["app"], by_id[self.latin]["title"]), ("App", "café"))

    def test_usage_errors_go_to_stderr_with_status_1(self):
        for args, usage in ((["--watch"], WATCH_USAGE), (["--capture", "42"], CAPTURE_USAGE)):
            self.assertEqual(run(args, self.x.env), (1, b"", usage), args)


class WithoutDisplay(unittest.TestCase):
    def test_list_is_empty_and_capture_fails(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        self.assertEqual(listing([], env)[0], [])
        status, out, err = run(["--capture", "42", "/tmp/never.jpg"], env)
        self.assertEqual((status, out), (1, b""))
        self.assertTrue(err.startswith(b"shareable content: "), err)

    def test_a_display_that_never_answers_ends_in_the_timeouts(self):
        # An X socket that accepts connections but never says a word.
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        number = 6000 + os.getpid() % 3000
        listener.bind(f"\0/tmp/.X11-unix/X{number}")
        listener.listen(8)
        env = dict(os.environ, DISPLAY=f":{number}")
        try:
            procs = [subprocess.Popen([PROGRAM, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                     for args in ([], ["--capture", "1", "/tmp/never.jpg"], ["--watch", "1"])]
            results = [(proc.communicate(timeout=30), proc.returncode) for proc in procs]
            self.assertEqual(results, [((b'{"windows":[]}\n', b""), 0),
                                       ((b"", b"timeout\n"), 1), ((b"", b"timeout\n"), 1)])
        finally:
            listener.close()


def jpeg_facts(path):
    """Width, height and the colour at the centre of a JPEG file."""
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, check=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    rgb = subprocess.run(["convert", path, "-crop", f"1x1+{width // 2}+{height // 2}", "-depth", "8", "rgb:-"],
                         capture_output=True, check=True).stdout
    return width, height, tuple(rgb[:3])


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


class CaptureAndWatch(unittest.TestCase):
    RED, GREEN, BLUE = (0xdd, 0x22, 0x11), (0x11, 0xcc, 0x22), (0x22, 0x33, 0xee)

    @classmethod
    def setUpClass(cls):
        cls.x = tevoli_harness.PrivateX().__enter__()
        cls.windows = WindowClients(cls.x.env)
        cls.tmp = tempfile.TemporaryDirectory()
        # Two windows under a third one; the lower one repaints only when asked to.
        cls.plain = cls.windows.open("zoom", "--size", "640x480", "--color", "dd2211")[1]
        cls.repainting = cls.windows.open("gedit", "--size", "640x480", "--color", "11cc22", "--no-background",
                                          "--at", "100,100")[1]
        cls.windows.open("gedit", "--size", "900x700", "--color", "000000")

    @classmethod
    def tearDownClass(cls):
        cls.windows.close_all()
        cls.tmp.cleanup()
        cls.x.__exit__(None, None, None)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_capture_of_covered_windows_at_twice_their_size(self):
        for window, colour in ((self.plain, self.RED), (self.repainting, self.GREEN)):
            dest = self.path(f"{window}.jpg")
            self.assertEqual(run(["--capture", str(window), dest], self.x.env), (0, b"", b""))
            width, height, centre = jpeg_facts(dest)
            self.assertEqual((width, height), (1280, 960))
            self.assertTrue(near(centre, colour), centre)

    def test_watch_follows_the_window_until_it_goes(self):
        proc, window = self.windows.open("firefox", "--size", "320x240", "--color", "dd2211", "--at", "500,50")
        watch = tevoli_harness.spawn([PROGRAM, "--watch", str(window)], env=self.x.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            def send(line):
                watch.stdin.write(line)
                watch.stdin.flush()

            def shoot(name, ending=b"\n"):
                send(b"shoot " + self.path(name).encode() + ending)
                return watch.stdout.readline()

            self.assertEqual(watch.stdout.readline(), b"READY\n")
            self.assertEqual(shoot("first.jpg"), b"ok\n")
            width, height, centre = jpeg_facts(self.path("first.jpg"))
            self.assertEqual((width, height), (640, 480))
            self.assertTrue(near(centre, self.RED), centre)

            # Frames are taken twice a second: the new colour shows in a later shot.
            WindowClients.command(proc, "color 2233ee")
            tevoli_harness.wait_until(lambda: shoot("changed.jpg", b"\r\n") == b"ok\n" and near(
                jpeg_facts(self.path("changed.jpg"))[2], self.BLUE), 10, 0.2, what="the new colour")

            self.windows.close(proc)
            tevoli_harness.wait_until(lambda: shoot("gone.jpg") == b"err stopped\n", 10, 0.2, what="err stopped")
            send(b"quit\n")
            self.assertEqual(watch.wait(timeout=10), 0)
            self.assertEqual((watch.stdout.read(), watch.stderr.read()), (b"", b""))
        finally:
            tevoli_harness.stop(watch)
            for stream in (watch.stdin, watch.stdout, watch.stderr):
                stream.close()

    def test_watch_outlives_a_host_that_closed_its_output(self):
        watch = tevoli_harness.spawn([PROGRAM, "--watch", str(self.plain)], env=self.x.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
        try:
            self.assertEqual(watch.stdout.readline(), b"READY\n")
            watch.stdout.close()
            # The reply to this shot has nowhere to go; quit must still end with status 0.
            watch.stdin.write(b"shoot " + self.path("unread.jpg").encode() + b"\nquit\n")
            watch.stdin.close()
            self.assertEqual(watch.wait(timeout=10), 0)
        finally:
            tevoli_harness.stop(watch)


if __name__ == "__main__":
    unittest.main()
