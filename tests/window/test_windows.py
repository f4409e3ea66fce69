"""tevoli-window run as the host runs it on each desktop: a private Xvfb display, sway,
KDE Plasma's KWin and GNOME Shell (Wayland, with XWayland), each adding cases of its own."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import tevoli_harness
from media import pixel, read_image
from window_clients import WindowClients

PROGRAM = tevoli_harness.binary("tevoli-window")
RED, BLUE, X_BLUE = (0xdd, 0x22, 0x11), (0x22, 0x33, 0xee), (0x33, 0x66, 0xcc)
PIPES = {"stdin": subprocess.PIPE, "stdout": subprocess.PIPE, "stderr": subprocess.PIPE}


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


class Desktop:
    """The shared cases. Each desktop shows a meeting window and an editor's window of
    its own kind, and a browser's X11 window (through XWayland on Wayland)."""

    NATIVE_BIT = 0x80000000
    CLIENT = "wayland_window.py"
    MEETING_OPTIONS = ()
    program = PROGRAM
    spawn = staticmethod(tevoli_harness.spawn)

    @classmethod
    def setUpClass(cls):
        cls.session = cls.start()
        cls.addClassCleanup(cls.session.__exit__, None, None, None)
        cls.tmp = tempfile.mkdtemp(prefix="tevoli-window-test-", dir=cls.session.dir)
        os.chmod(cls.tmp, 0o777)
        cls.windows = WindowClients(cls.session.env, cls.tmp, cls.spawn)
        cls.addClassCleanup(cls.windows.close_all)
        cls.meeting = cls.open("zoom", "480x360", 'Weekly «sync» "1"', "dd2211", *cls.MEETING_OPTIONS)
        cls.notes = cls.open("gedit", "300x200", "notes", "3366cc", "--class", "Notes")
        cls.before_x11_clients = cls.listing("--all")
        cls.browser = cls.open("firefox", "500x400", "Call in browser", "3366cc", client="window_owner.py")[1]

    @classmethod
    def open(cls, exe_name, size, title, colour, *options, client=None):
        """A window, once listed; returns (process, its id)."""
        proc = cls.windows.open(exe_name, "--size", size, "--title", title, "--color", colour, *options,
                                client=client or cls.CLIENT)[0]
        found = []
        tevoli_harness.wait_until(lambda: found.extend(e["id"] for e in cls.listing("--all") if e["title"] == title)
                                  or found, 30, 0.2, what=f"the window {title}")
        cls.place(proc.pid, *map(int, size.split("x")))
        return proc, found[0]

    @classmethod
    def place(cls, pid, width, height):
        """Puts the process's window where no other covers it, where the desktop does not."""

    @classmethod
    def tevoli_window(cls, *args, env=None, program=None):
        proc = cls.spawn([program or cls.program, *args], env=env or cls.session.env, **PIPES)
        out, err = proc.communicate(timeout=60)
        return proc.returncode, out, err

    @classmethod
    def listing(cls, *args, **options):
        """The windows of a listing, after checking the run gave exactly one line and status 0."""
        status, out, err = cls.tevoli_window(*args, **options)
        assert (status, err) == (0, b"") and out.endswith(b"\n") and out.count(b"\n") == 1, (status, out, err)
        return json.loads(out)["windows"]

    def path(self, name):
        return os.path.join(self.tmp, name)

    def test_all_lists_each_window_once_and_the_plain_list_only_meetings(self):
        keys = ("id", "app", "title", "width", "height", "meeting")
        meeting, notes, browser = (dict(zip(keys, entry)) for entry in (
            (self.meeting[1], "Zoom", 'Weekly «sync» "1"', 480, 360, True),
            (self.notes[1], "Notes", "notes", 300, 200, False),
            (self.browser, "Browser", "Call in browser", 500, 400, True)))
        self.assertCountEqual(self.listing("--all"), [meeting, notes, browser])
        self.assertCountEqual(self.listing(), [meeting, browser])
        # Before any X11 client, the XWayland window manager's own window is no application's.
        self.assertCountEqual(self.before_x11_clients, [meeting, notes])
        # Native ids lie above every XID.
        self.assertEqual({self.meeting[1] & 0x80000000, self.notes[1] & 0x80000000}, {self.NATIVE_BIT})

    def test_capture_is_the_window_alone_at_twice_its_size(self):
        corners = [(3, 3), (956, 3), (480, 360), (3, 716), (956, 716)]
        for window, size, colour, points in ((self.meeting[1], (960, 720), RED, corners),
                                             (self.browser, (1000, 800), X_BLUE, [(500, 400)])):
            dest = self.path(f"{window}.jpg")
            self.assertEqual(self.tevoli_window("--capture", str(window), dest), (0, b"", b""))
            image = read_image(dest)
            self.assertEqual(image[:2], size)
            self.assertEqual([(p, pixel(image, *p)) for p in points if not near(pixel(image, *p), colour)], [])

    def test_watch_follows_the_window_until_it_closes_and_outlives_a_host_that_closed_its_output(self):
        proc, window = self.open("notes", "320x240", "Watched", "dd2211")
        watch = self.spawn([self.program, "--watch", str(window)], env=self.session.env, **PIPES)
        self.addCleanup(tevoli_harness.stop, watch)

        def shoot(name):
            watch.stdin.write(f"shoot {self.path(name)}\n".encode())
            watch.stdin.flush()
            return watch.stdout.readline()

        def shows(name, colour):
            image = read_image(self.path(name))
            return image[:2] == (640, 480) and near(pixel(image, 320, 240), colour)

        self.assertEqual(watch.stdout.readline(), b"READY\n")
        self.assertEqual(shoot("first.jpg"), b"ok\n")
        self.assertTrue(shows("first.jpg", RED))
        # Frames come as the desktop sends them: the new colour shows in a later shot.
        WindowClients.command(proc, "color 2233ee")
        tevoli_harness.wait_until(lambda: shoot("changed.jpg") == b"ok\n" and shows("changed.jpg", BLUE), 15, 0.2,
                                  what="the new colour")
        tevoli_harness.stop(proc)
        tevoli_harness.wait_until(lambda: shoot("gone.jpg") == b"err stopped\n", 15, 0.2, what="err stopped")
        # The reply to this shot has nowhere to go; quit must still end with status 0.
        watch.stdout.close()
        watch.stdin.write(f"shoot {self.path('unread.jpg')}\nquit\n".encode())
        watch.stdin.close()
        self.assertEqual((watch.wait(timeout=10), watch.stderr.read()), (0, b""))
        watch.stderr.close()


class OnX11(Desktop, unittest.TestCase):
    """A private Xvfb display without a window manager: every window is an X11 one. The
    meeting window lies under the others and repaints only when asked to, slowly."""

    NATIVE_BIT = 0
    CLIENT = "window_owner.py"
    MEETING_OPTIONS = ("--no-background", "--slow-paint")

    @classmethod
    def start(cls):
        return tevoli_harness.PrivateX().__enter__()

    def test_what_x11_shows_of_a_window_decides_whether_it_is_listed(self):
        x11 = WindowClients(self.session.env)
        self.addCleanup(x11.close_all)
        open_ = lambda *args: x11.open(*args)[1]  # noqa: E731
        # A vendor's own type may come before the standard one.
        vendor = "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE,"
        dialog = open_("gedit", "--size", "300x200", "--title", 'Call "quoted"\ttab é 会議 🎥', "--class", "Gedit",
                       "--type", vendor + "_NET_WM_WINDOW_TYPE_DIALOG", "--at", "50,50")
        latin = open_("gedit", "--size", "200x200", "--wm-name", os.fsdecode(b"caf\xe9"), "--no-pid", "--class", "")
        open_("firefox", "--size", "899x600", "--unmapped")
        hidden = open_("firefox", "--size", "900x600", "--unmapped")
        # Never listed: a dock, a popup and the host's own window.
        open_("gedit", "--size", "800x600", "--type", vendor + "_NET_WM_WINDOW_TYPE_DOCK,_NET_WM_WINDOW_TYPE_NORMAL")
        open_("zoom", "--size", "800x600", "--override-redirect")
        open_("tevoli", "--size", "800x600")
        by_id = {e["id"]: e for e in self.listing("--all")}
        self.assertEqual(set(by_id) - {self.meeting[1], self.notes[1], self.browser}, {dialog, latin, hidden})
        # Owner found without _NET_WM_PID; no class name gives "App"; Latin-1 title converted.
        self.assertEqual([(by_id[w]["app"], by_id[w]["title"]) for w in (dialog, latin)],
                         [("Gedit", 'Call "quoted"\ttab é 会議 🎥'), ("App", "café")])
        self.assertIn(hidden, {e["id"] for e in self.listing()})

    def test_usage_errors(self):
        self.assertEqual(self.tevoli_window("--watch"), (1, b"", b"usage: tevoli-window --watch <windowid>\n"))
        self.assertEqual(self.tevoli_window("--capture", "1"),
                         (1, b"", b"usage: tevoli-window --capture <windowid> <dest>\n"))


class OnSway(Desktop, unittest.TestCase):
    """sway copies what its output shows of a window; its user runs everything."""

    # Apart, so that no window covers another: sway copies what its output shows.
    PLACES = iter([(10, 10), (510, 10), (510, 230), (10, 400), (860, 400)])

    @classmethod
    def start(cls):
        session = tevoli_harness.PrivateSway().__enter__()
        cls.program = session.file("tevoli-window", source=PROGRAM)
        return session

    @classmethod
    def spawn(cls, cmd, **options):
        return cls.session.spawn(cmd, **options)

    @classmethod
    def place(cls, pid, width, height):
        cls.session.place(f"[pid={pid}]", width, height, *next(cls.PLACES))

    def test_a_window_on_a_hidden_workspace_is_not_copied(self):
        proc, away = self.open("away", "400x300", "Away", "dd2211")
        self.addCleanup(tevoli_harness.stop, proc)
        self.session.swaymsg(f"[pid={proc.pid}] move to workspace 2")
        self.assertEqual(self.tevoli_window("--capture", str(away), self.path("away.jpg")),
                         (1, b"", b"capture: the window is not on a workspace that is shown\n"))


class OnKWin(Desktop, unittest.TestCase):
    """KWin lets the built tevoli-window take screenshots, as the installed one is let."""

    @classmethod
    def start(cls):
        return tevoli_harness.PrivateKWin(authorised=[PROGRAM]).__enter__()

    def test_a_program_kwin_does_not_know_cannot_capture(self):
        # The same program at a path no .desktop file names.
        unknown, dest = self.path("tevoli-window"), self.path("refused.jpg")
        shutil.copy(PROGRAM, unknown)
        status, out, err = self.tevoli_window("--capture", str(self.meeting[1]), dest, program=unknown)
        self.assertEqual((status, out, os.path.exists(dest)), (1, b"", False))
        self.assertRegex(err, rb"\Acapture: KWin refused the screenshot: .*X-KDE-DBUS-Restricted-Interfaces.*"
                              rb"install.*\n\Z")

    def test_x11_windows_are_listed_while_kwin_hangs_and_the_script_goes_after(self):
        os.kill(self.session.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, self.session.pid, signal.SIGCONT)  # also when the listing fails
        lister = self.spawn([PROGRAM], env=self.session.env, **PIPES)
        out, err = lister.communicate(timeout=60)
        os.kill(self.session.pid, signal.SIGCONT)
        self.assertEqual((lister.returncode, err, [e["title"] for e in json.loads(out)["windows"]]),
                         (0, b"", ["Call in browser"]))
        # KWin loads the script it was sent while it hung, then unloads it.
        loaded = self.session.qdbus("/Scripting", "org.kde.kwin.Scripting.isScriptLoaded",
                                    f"tevoli-window-{lister.pid}-1")
        self.assertEqual(loaded.strip(), "false")


class OnGnome(Desktop, unittest.TestCase):
    """GNOME Shell with our extension from the build; the meeting window draws a shadow,
    which its capture must not show."""

    MEETING_OPTIONS = ("--shadow",)

    @classmethod
    def start(cls):
        return tevoli_harness.PrivateGnomeShell(tevoli_harness.built_extensions()).__enter__()

    def test_the_extension_answers_only_tevoli_window(self):
        # The same program elsewhere is another program: only the XWayland window shows.
        copy = self.path("tevoli-window")
        shutil.copy(PROGRAM, copy)
        self.assertEqual([e["id"] for e in self.listing("--all", program=copy)], [self.browser])


if __name__ == "__main__":
    unittest.main()
