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
        cases = [(["--watch"], "watch"), (["--watch", "12x"], "watch"), (["--watch", "4294967296"], "watch"),
                 (["--capture", "42"], "capture"), (["--capture", "-1", "out.jpg"], "capture")]
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
            capturer = subprocess.Popen([PROGRAM, "--capture", "1", "/tmp/never.jpg"], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            out, err = lister.communicate(timeout=30)
            self.assertEqual((lister.returncode, out, err), (0, b'{"windows":[]}\n', b""))
            out, err = capturer.communicate(timeout=30)
            self.assertEqual((capturer.returncode, out, err), (1, b"", b"timeout\n"))
            self.assertGreaterEqual(time.monotonic() - start, 7.5)
        finally:
            listener.close()


if __name__ == "__main__":
    unittest.main()
