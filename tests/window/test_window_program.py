"""tevoli-window run as the host runs it, against a private Xvfb and test windows."""
import json
import os
import socket
import subprocess
import tempfile
import time
import unittest

import tevoli_harness
from window_clients import WindowClients

PROGRAM = tevoli_harness.binary("tevoli-window")


def run(args, env, timeout=30, stdin=subprocess.DEVNULL):
    return subprocess.run([PROGRAM, *args], env=env, capture_output=True, timeout=timeout, stdin=stdin)


def listing(result):
    assert result.returncode == 0, result
    assert result.stderr == b"", result.stderr
    assert result.stdout.endswith(b"\n") and result.stdout.count(b"\n") == 1, result.stdout
    return json.loads(result.stdout)["windows"]


class ListMode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = tevoli_harness.PrivateX().__enter__()
        cls.windows = WindowClients(cls.x.env)
        open_ = cls.windows.open
        cls.zoom = open_("zoom", "--size", "1280x720")[1]
        cls.firefox = open_("firefox", "--size", "800x600", "--title", 'Call "quoted"\ttab é 会議 🎥', "--at", "50,50")[1]
        cls.gedit = open_("gedit", "--size", "300x200", "--title", "notes", "--class", "Gedit", "--type", "dialog")[1]
        cls.latin = open_("gedit", "--size", "200x200", "--wm-name", os.fsdecode(b"caf\xe9"), "--no-pid", "--class", "")[1]
        cls.narrow = open_("gedit", "--size", "199x800")[1]
        cls.small_meeting = open_("zoom", "--size", "399x300")[1]
        cls.hidden_small = open_("firefox", "--size", "899x600", "--unmapped")[1]
        cls.hidden_big = open_("firefox", "--size", "900x600", "--unmapped")[1]
        cls.hidden_titled = open_("firefox", "--size", "400x300", "--unmapped", "--title", "Later")[1]
        cls.dock = open_("gedit", "--size", "800x600", "--type", "dock")[1]
        cls.popup = open_("zoom", "--size", "800x600", "--override-redirect")[1]
        cls.host = open_("tevoli", "--size", "800x600")[1]

    @classmethod
    def tearDownClass(cls):
        cls.windows.close_all()
        cls.x.__exit__(None, None, None)

    def test_without_arguments_only_meeting_windows(self):
        entries = listing(run([], self.x.env))
        self.assertEqual([e["id"] for e in entries], [self.zoom, self.firefox, self.hidden_big, self.hidden_titled])
        self.assertEqual(entries[0], {"id": self.zoom, "app": "Zoom", "title": "", "width": 1280,
                                      "height": 720, "meeting": True})
        self.assertEqual(listing(run(["--bogus"], self.x.env)), entries)

    def test_all_lists_other_windows_too(self):
        entries = listing(run(["--all"], self.x.env))
        by_id = {e["id"]: e for e in entries}
        self.assertEqual(set(by_id), {self.zoom, self.firefox, self.gedit, self.latin, self.hidden_big, self.hidden_titled})
        self.assertEqual(by_id[self.gedit], {"id": self.gedit, "app": "Gedit", "title": "notes", "width": 300,
                                             "height": 200, "meeting": False})
        # Owner found through X-Resource; no class name gives "App"; Latin-1 title converted.
        self.assertEqual(by_id[self.latin]["app"], "App")
        self.assertEqual(by_id[self.latin]["title"], "café")

    def test_titles_in_the_window_string_form(self):
        out = run([], self.x.env).stdout
        self.assertIn('"title":"Call \\"quoted\\"\\u0009tab é 会議 🎥"'.encode(), out)
        self.assertIn(b'"app":"Browser"', out)

    def test_usage_errors_go_to_stderr_with_status_1(self):
        cases = [(["--watch"], "watch"), (["--capture", "42"], "capture"), (["--capture", "-1", "out.jpg"], "capture")]
        for args, mode in cases:
            result = run(args, self.x.env)
            usage = (b"usage: tevoli-window --watch <windowid>\n" if mode == "watch"
                     else b"usage: tevoli-window --capture <windowid> <dest>\n")
            self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", usage), args)


class WithoutDisplay(unittest.TestCase):
    def test_list_is_empty_and_capture_fails(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        self.assertEqual(listing(run([], env)), [])
        result = run(["--capture", "42", "/tmp/never.jpg"], env)
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr.startswith(b"shareable content: "), result.stderr)
        self.assertEqual(result.stdout, b"")

    def test_a_display_that_never_answers_ends_in_the_timeouts(self):
        # An X socket that accepts connections but never says a word.
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        number = 6000 + os.getpid() % 3000
        listener.bind(f"\0/tmp/.X11-unix/X{number}")
        listener.listen(8)
        env = dict(os.environ, DISPLAY=f":{number}")
        try:
            start = time.monotonic()
            lister = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            failing = [subprocess.Popen([PROGRAM, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                       for args in (["--capture", "1", "/tmp/never.jpg"], ["--watch", "1"])]
            out, err = lister.communicate(timeout=30)
            self.assertEqual((lister.returncode, out, err), (0, b'{"windows":[]}\n', b""))
            for proc in failing:
                out, err = proc.communicate(timeout=30)
                self.assertEqual((proc.returncode, out, err), (1, b"", b"timeout\n"))
            self.assertGreaterEqual(time.monotonic() - start, 7.5)
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
        cls.cover = cls.windows.open("gedit", "--size", "900x700", "--color", "000000")[1]

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
            result = run(["--capture", str(window), dest], self.x.env)
            self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
            width, height, centre = jpeg_facts(dest)
            self.assertEqual((width, height), (1280, 960))
            self.assertTrue(near(centre, colour), centre)

    def test_capture_failures(self):
        dest = self.path("never.jpg")
        result = run(["--capture", "42", dest], self.x.env)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", b"window 42 not found\n"))
        self.assertFalse(os.path.exists(dest))
        result = run(["--capture", str(self.plain), self.path("missing/x.jpg")], self.x.env)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (1, b"", b"write: No such file or directory\n"))
        result = run(["--watch", "42"], self.x.env)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", b"window 42 not found\n"))

    def test_watch_follows_the_window_until_it_goes(self):
        proc, window = self.windows.open("firefox", "--size", "320x240", "--color", "dd2211", "--at", "500,50")
        watch = subprocess.Popen([PROGRAM, "--watch", str(window)], env=self.x.env, stdin=subprocess.PIPE,
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

            WindowClients.command(proc, "color 2233ee")
            deadline = time.monotonic() + 10
            while True:
                self.assertEqual(shoot("changed.jpg", b"\r\n"), b"ok\n")
                if near(jpeg_facts(self.path("changed.jpg"))[2], self.BLUE) or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            self.assertTrue(near(jpeg_facts(self.path("changed.jpg"))[2], self.BLUE))

            # Lines that are not commands get no reply; the next shot still works.
            send(b"shoot\nShoot " + self.path("no.jpg").encode() + b"\nhello\n\n")
            self.assertEqual(shoot("missing/x.jpg"), b"err write failed\n")
            self.assertEqual(shoot("after.jpg"), b"ok\n")
            self.assertFalse(os.path.exists(self.path("no.jpg")))

            self.windows.close(proc)
            deadline = time.monotonic() + 10
            while shoot("gone.jpg") == b"ok\n" and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertEqual(shoot("gone.jpg"), b"err stopped\n")
            send(b"quit\n")
            self.assertEqual(watch.wait(timeout=10), 0)
            self.assertEqual(watch.stdout.read(), b"")
            self.assertEqual(watch.stderr.read(), b"")
        finally:
            tevoli_harness.stop(watch)
            for stream in (watch.stdin, watch.stdout, watch.stderr):
                stream.close()

    def test_watch_ends_at_end_of_input(self):
        result = run(["--watch", str(self.plain)], self.x.env, stdin=subprocess.DEVNULL)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"READY\n", b""))


if __name__ == "__main__":
    unittest.main()
