"""tevoli-window run as the host runs it, against a private Xvfb and test windows."""
import json
import os
import socket
import subprocess
import tempfile
import unittest

import tevoli_harness
from media import pixel, read_image
from small_disk import on_small_disk
from window_clients import WindowClients

PROGRAM = tevoli_harness.binary("tevoli-window")


def run(args, env):
    result = tevoli_harness.run("tevoli-window", *args, env=env, timeout=30)
    return result.returncode, result.stdout, result.stderr


def listing(args, env):
    """The listed windows, after checking the run gave exactly one line and status 0."""
    status, out, err = run(args, env)
    assert (status, err) == (0, b"") and out.endswith(b"\n") and out.count(b"\n") == 1, (status, out, err)
    return json.loads(out)["windows"], out


def facts(path):
    """Width, height and the colour at the centre of a JPEG file."""
    image = read_image(path)
    return image[0], image[1], pixel(image, image[0] // 2, image[1] // 2)


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


class ListMode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = tevoli_harness.PrivateX().__enter__()
        cls.addClassCleanup(cls.x.__exit__, None, None, None)
        cls.windows = WindowClients(cls.x.env)
        cls.addClassCleanup(cls.windows.close_all)
        open_ = lambda *args: cls.windows.open(*args)[1]  # noqa: E731
        cls.zoom = open_("zoom", "--size", "1280x720")
        cls.firefox = open_("firefox", "--size", "800x600", "--title", 'Call "quoted"\ttab é 会議 🎥', "--at", "50,50")
        # A vendor's own type may come before the standard one, here and in the dock below.
        vendor = "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE,"
        cls.gedit = open_("gedit", "--size", "300x200", "--title", "notes", "--class", "Gedit",
                          "--type", vendor + "_NET_WM_WINDOW_TYPE_DIALOG")
        cls.latin = open_("gedit", "--size", "200x200", "--wm-name", os.fsdecode(b"caf\xe9"), "--no-pid", "--class", "")
        cls.hidden_small = open_("firefox", "--size", "899x600", "--unmapped")
        cls.hidden_big = open_("firefox", "--size", "900x600", "--unmapped")
        # Never listed: a dock, a popup and the host's own window.
        open_("gedit", "--size", "800x600", "--type", vendor + "_NET_WM_WINDOW_TYPE_DOCK,_NET_WM_WINDOW_TYPE_NORMAL")
        open_("zoom", "--size", "800x600", "--override-redirect")
        open_("tevoli", "--size", "800x600")

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


class WithoutAUsableDisplay(unittest.TestCase):
    def test_usage_errors_no_display_and_a_display_that_never_answers(self):
        # An X socket that accepts connections but never says a word.
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(listener.close)
        number = 6000 + os.getpid() % 3000
        listener.bind(f"\0/tmp/.X11-unix/X{number}")
        listener.listen(8)
        silent = dict(os.environ, DISPLAY=f":{number}")
        none = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        cases = [(none, ["--watch"], 1, b"", b"usage: tevoli-window --watch <windowid>\n"),
                 (none, ["--capture", "42"], 1, b"", b"usage: tevoli-window --capture <windowid> <dest>\n"),
                 (none, [], 0, b'{"windows":[]}\n', b""),
                 (none, ["--capture", "42", "/tmp/never.jpg"], 1, b"", rb"shareable content: .+\n"),
                 (silent, [], 0, b'{"windows":[]}\n', b""),
                 (silent, ["--capture", "1", "/tmp/never.jpg"], 1, b"", b"timeout\n"),
                 (silent, ["--watch", "1"], 1, b"", b"timeout\n")]
        procs = [subprocess.Popen([PROGRAM, *args], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE) for env, args, *_ in cases]
        for proc, (_, args, status, out, err) in zip(procs, cases):
            got_out, got_err = proc.communicate(timeout=30)
            self.assertEqual((proc.returncode, got_out), (status, out), args)
            self.assertRegex(got_err, b"\\A" + err + b"\\Z", args)


class CaptureAndWatch(unittest.TestCase):
    RED, GREEN, BLUE = (0xdd, 0x22, 0x11), (0x11, 0xcc, 0x22), (0x22, 0x33, 0xee)

    @classmethod
    def setUpClass(cls):
        cls.x = tevoli_harness.PrivateX().__enter__()
        cls.addClassCleanup(cls.x.__exit__, None, None, None)
        cls.windows = WindowClients(cls.x.env)
        cls.addClassCleanup(cls.windows.close_all)
        cls.tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.tmp.cleanup)
        # Two windows under a third one; the lower one repaints only when asked to.
        cls.plain = cls.windows.open("zoom", "--size", "640x480", "--color", "dd2211")[1]
        cls.repainting = cls.windows.open("gedit", "--size", "640x480", "--color", "11cc22", "--no-background",
                                          "--at", "100,100")[1]
        cls.windows.open("gedit", "--size", "900x700", "--color", "000000")

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_capture_of_covered_windows_at_twice_their_size(self):
        for window, colour in ((self.plain, self.RED), (self.repainting, self.GREEN)):
            dest = self.path(f"{window}.jpg")
            self.assertEqual(run(["--capture", str(window), dest], self.x.env), (0, b"", b""))
            width, height, centre = facts(dest)
            self.assertEqual((width, height), (1280, 960))
            self.assertTrue(near(centre, colour), centre)

    def test_a_full_disk_fails_the_write_and_keeps_the_earlier_file(self):
        script = ('echo earlier > "$DISK/kept.jpg" && head -c 1G /dev/zero > "$DISK/filler" 2>/dev/null\n'
                  'for name in kept new; do "$1" --capture "$2" "$DISK/$name.jpg"; echo "status $?"; done\n'
                  'printf "shoot %s\\n" "$DISK/kept.jpg" "$DISK/new.jpg" | "$1" --watch "$2"\n'
                  'cat "$DISK/kept.jpg" && ls -A "$DISK"')
        result = on_small_disk(script, PROGRAM, str(self.plain), env=self.x.env)
        self.assertEqual((result.returncode, result.stdout.decode(errors="replace").split(), result.stderr),
                         (0, ["status", "1", "status", "1", "READY", "err", "write", "failed", "err", "write",
                              "failed", "earlier", "filler", "kept.jpg"], b"write: No space left on device\n" * 2))

    def test_watch_follows_the_window_until_it_goes_and_outlives_a_host_that_closed_its_output(self):
        proc, window = self.windows.open("firefox", "--size", "320x240", "--color", "dd2211", "--at", "500,50")
        watch = tevoli_harness.spawn([PROGRAM, "--watch", str(window)], env=self.x.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for stream in (watch.stdin, watch.stdout, watch.stderr):
            self.addCleanup(stream.close)
        self.addCleanup(tevoli_harness.stop, watch)

        def shoot(name, ending=b"\n"):
            watch.stdin.write(b"shoot " + self.path(name).encode() + ending)
            watch.stdin.flush()
            return watch.stdout.readline()

        self.assertEqual(watch.stdout.readline(), b"READY\n")
        self.assertEqual(shoot("first.jpg"), b"ok\n")
        width, height, centre = facts(self.path("first.jpg"))
        self.assertEqual((width, height), (640, 480))
        self.assertTrue(near(centre, self.RED), centre)
        # Frames are taken twice a second: the new colour shows in a later shot.
        WindowClients.command(proc, "color 2233ee")
        tevoli_harness.wait_until(lambda: shoot("changed.jpg", b"\r\n") == b"ok\n" and near(
            facts(self.path("changed.jpg"))[2], self.BLUE), 10, 0.2, what="the new colour")
        self.windows.close(proc)
        tevoli_harness.wait_until(lambda: shoot("gone.jpg") == b"err stopped\n", 10, 0.2, what="err stopped")
        # The reply to this shot has nowhere to go; quit must still end with status 0.
        watch.stdout.close()
        watch.stdin.write(b"shoot " + self.path("unread.jpg").encode() + b"\nquit\n")
        watch.stdin.close()
        self.assertEqual((watch.wait(timeout=10), watch.stderr.read()), (0, b""))


if __name__ == "__main__":
    unittest.main()
