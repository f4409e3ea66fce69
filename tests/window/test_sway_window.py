"""tevoli-window on a sway desktop, run by its user: native Wayland windows (foot)
and an XWayland window in one list, captured and watched."""
import json
import os
import socket
import subprocess
import unittest

import tevoli_harness
from media import pixel, read_image
from sway_session import PrivateSway

# Coloured bars over the top rows, the cursor hidden; then the screen cleared in the
# colour ("R;G;B") written to the file named "colour", which is taken away once shown.
PAINT = (r"printf '\033[?25l\033[41m%50s\n\033[42m%30s\n\033[44m%70s\033[0m\n' '' '' ''; "
         r"while sleep 0.1; do [ -f colour ] && printf '\033[48;2;%sm\033[2J' $(cat colour) && rm colour; done")
RED = (0xdd, 0x22, 0x11)
X_BLUE = (0x33, 0x66, 0xcc)


def native(view):
    return 0x80000000 | view["id"]


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


class SwayDesktop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sway = PrivateSway().__enter__()
        cls.addClassCleanup(cls.sway.__exit__, None, None, None)
        cls.program = cls.sway.file("tevoli-window", source=tevoli_harness.binary("tevoli-window"))
        cls.clients = []
        cls.addClassCleanup(lambda: [cls.close(p) for p in cls.clients])
        cls.notes = cls.foot("notes", "Notes «ü»", 400, 300, 20, 20)[1]
        # A meeting app's native window: foot under the executable name of a call client.
        cls.zoom = cls.foot("notzoom", "Call", 480, 360, 760, 300, executable="zoom")[1]
        cls.away = cls.foot("away", "Away", 400, 300, 20, 360)[1]
        cls.sway.swaymsg("[app_id=away] move to workspace 2")
        cls.before_x = cls.sway.run([cls.program, "--all"]).stdout
        # The XWayland window: the test X client under the name of an editor.
        python = cls.sway.file("gedit", source=os.path.realpath("/usr/bin/python3"))
        owner = cls.sway.file("window_owner.py", source=os.path.join(os.path.dirname(__file__), "window_owner.py"))
        xclient = cls.sway.spawn([python, owner, "--title", "X «title»", "--class", "Gedit", "--color", "3366cc"],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        cls.clients.append(xclient)
        cls.xid = int(xclient.stdout.readline())
        cls.sway.place("class=Gedit", 300, 200, 440, 20)

    @staticmethod
    def close(proc):
        tevoli_harness.stop(proc)
        for stream in (proc.stdin, proc.stdout):
            if stream:
                stream.close()

    @classmethod
    def foot(cls, app_id, title, width, height, x, y, executable="foot"):
        """A foot window painted by PAINT; returns (process, its node in sway's tree)."""
        path = os.path.join(cls.sway.dir, executable)
        if not os.path.exists(path):
            cls.sway.file(executable, source="/usr/bin/foot")
        paint = PAINT.replace("colour", os.path.join(cls.sway.dir, f"{app_id}.colour"))
        proc = cls.sway.spawn([path, "-a", app_id, "-T", title, "sh", "-c", paint],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.clients.append(proc)
        return proc, cls.sway.place(f"app_id={app_id}", width, height, x, y)

    def tevoli_window(self, *args, env=None):
        result = self.sway.run([self.program, *args], env=env)
        return result.returncode, result.stdout, result.stderr

    def listing(self, *args, env=None):
        status, out, err = self.tevoli_window(*args, env=env)
        self.assertEqual((status, err, out.count(b"\n")), (0, b"", 1), out)
        return json.loads(out)["windows"]

    def path(self, name):
        return os.path.join(self.sway.dir, name)

    def test_all_lists_each_window_once_native_ones_with_the_top_bit_set(self):
        entries = self.listing("--all")
        by_id = {e["id"]: e for e in entries}
        self.assertEqual(sorted(e["id"] for e in entries),
                         sorted([self.xid, native(self.notes), native(self.zoom), native(self.away)]))
        self.assertEqual(by_id[native(self.notes)], {"id": native(self.notes), "app": "notes", "title": "Notes «ü»",
                                                     "width": 400, "height": 300, "meeting": False})
        self.assertEqual(by_id[self.xid], {"id": self.xid, "app": "Gedit", "title": "X «title»", "width": 300,
                                           "height": 200, "meeting": False})
        # The owner is known by its process, whatever app id it gives.
        meeting = {"id": native(self.zoom), "app": "Zoom", "title": "Call", "width": 480, "height": 360,
                   "meeting": True}
        self.assertEqual(by_id[native(self.zoom)], meeting)
        self.assertEqual(self.listing(), [meeting])
        # Before any X client, XWayland's window manager has only its own window.
        self.assertEqual(sorted(e["id"] for e in json.loads(self.before_x)["windows"]), sorted(by_id.keys() - {self.xid}))

    def test_capture_copies_what_sway_shows_of_the_window(self):
        ours, theirs = self.path("ours.jpg"), self.path("grim.png")
        self.assertEqual(self.tevoli_window("--capture", str(native(self.notes)), ours), (0, b"", b""))
        self.assertEqual(self.sway.run(["grim", "-g", "20,20 400x300", theirs]).returncode, 0)
        width, height, pixels = read_image(ours)
        self.assertEqual((width, height), (800, 600))
        grim = read_image(theirs)
        # Each pixel of grim's copy against the mean of the four it became in ours.
        distance = 0
        for y in range(300):
            for x in range(400):
                corners = [pixel((width, height, pixels), 2 * x + dx, 2 * y + dy) for dx in (0, 1) for dy in (0, 1)]
                mean = [sum(c[i] for c in corners) / 4 for i in range(3)]
                distance += sum(abs(m - g) for m, g in zip(mean, pixel(grim, x, y)))
        self.assertLess(distance / (400 * 300 * 3), 2)

        # The XWayland window through X11, as on an X11 desktop.
        self.assertEqual(self.tevoli_window("--capture", str(self.xid), ours), (0, b"", b""))
        image = read_image(ours)
        self.assertEqual(image[:2], (600, 400))
        self.assertTrue(near(pixel(image, 300, 200), X_BLUE), pixel(image, 300, 200))

        for window, message in ((native(self.away), b"capture: the window is not on a workspace that is shown\n"),
                                (0xffffffff, b"window 4294967295 not found\n")):
            self.assertEqual(self.tevoli_window("--capture", str(window), ours), (1, b"", message))

    def test_watch_follows_the_window_until_it_closes(self):
        proc, view = self.foot("watched", "Watched", 300, 200, 440, 400)
        watch = self.sway.spawn([self.program, "--watch", str(native(view))], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for stream in (watch.stdin, watch.stdout, watch.stderr):
            self.addCleanup(stream.close)
        self.addCleanup(tevoli_harness.stop, watch)

        def shoot(name):
            watch.stdin.write(f"shoot {self.path(name)}\n".encode())
            watch.stdin.flush()
            return watch.stdout.readline()

        self.assertEqual(watch.stdout.readline(), b"READY\n")
        self.assertEqual(shoot("first.jpg"), b"ok\n")
        self.assertEqual(read_image(self.path("first.jpg"))[:2], (600, 400))
        colour = self.path("watched.colour")
        with open(colour + ".new", "w") as f:
            f.write("221;34;17\n")
        os.rename(colour + ".new", colour)
        tevoli_harness.wait_until(lambda: shoot("red.jpg") == b"ok\n" and near(
            pixel(read_image(self.path("red.jpg")), 300, 200), RED), 10, 0.2, what="the new colour")
        tevoli_harness.stop(proc)
        tevoli_harness.wait_until(lambda: shoot("gone.jpg") == b"err stopped\n", 10, 0.2, what="err stopped")
        watch.stdin.write(b"quit\n")
        watch.stdin.close()
        self.assertEqual((watch.wait(timeout=10), watch.stderr.read()), (0, b""))

    def test_without_sway_answering_the_xwayland_windows_are_still_listed(self):
        # A socket that is gone, and one that takes the request and never answers.
        silent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(silent.close)
        silent.bind(self.path("silent.sock"))
        os.chmod(self.path("silent.sock"), 0o777)
        silent.listen(8)
        for sway_socket in (self.path("gone.sock"), self.path("silent.sock")):
            entries = self.listing("--all", env=dict(self.sway.env, SWAYSOCK=sway_socket))
            self.assertEqual([e["id"] for e in entries], [self.xid], sway_socket)


if __name__ == "__main__":
    unittest.main()
