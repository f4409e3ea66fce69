"""The Debian package as a machine gets it: built by cpack, checked by lintian, installed
with dpkg, its manual pages found by man, tevoli-window granted its screenshots by the
installed files on KWin and GNOME, and nothing left once it is purged."""
import contextlib
import fcntl
import glob
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.environ["TEVOLI_SOURCE_DIR"], "tests", "window"))

from media import read_image  # noqa: E402
from tevoli_harness import PrivateGnomeShell, PrivateKWin, wait_until  # noqa: E402
from window_clients import WindowClients  # noqa: E402

PACKAGE = "tevoli-helpers"
PROGRAMS = ["tevoli-systemaudio", "tevoli-apple-asr", "tevoli-apple-llm", "tevoli-detect", "tevoli-window",
            "tevoli-frames"]
BIN = "/usr/bin"
# Our GNOME Shell extension, for GNOME 43 and 44 (this system's) and for GNOME 45 on.
SHELL_EXTENSIONS = ["tevoli-window-gnome43@tevoli.com", "tevoli-window@tevoli.com"]
# Serialises package tests of several work trees on one machine.
LOCK = "/run/lock/tevoli-helpers-package-test"


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **kwargs)


def dpkg(*args):
    """dpkg, waiting while another package manager holds its lock."""
    deadline = time.monotonic() + 300
    while True:
        result = run(["dpkg", *args])
        if result.returncode == 0 or "lock" not in result.stderr or time.monotonic() > deadline:
            return result
        time.sleep(1)


@unittest.skipUnless(os.access("/var/lib/dpkg/status", os.W_OK), "installing the package needs root")
class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        fcntl.flock(cls.enterClassContext(open(LOCK, "w")), fcntl.LOCK_EX)
        cls.work = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="tevoli-package-"))
        # The .deb that scripts/package makes.
        config = os.path.join(os.environ["TEVOLI_BUILD_DIR"], "CPackConfig.cmake")
        made = run(["cpack", "--config", config, "-B", os.path.join(cls.work, "deb")])
        debs = glob.glob(os.path.join(cls.work, "deb", "*.deb"))
        if made.returncode != 0 or len(debs) != 1:
            raise RuntimeError(f"cpack made {debs}:\n" + made.stdout + made.stderr)
        cls.deb, cls.files = debs[0], []
        cls.addClassCleanup(cls.purge)  # also after a failed installation
        result = dpkg("-i", cls.deb)
        if result.returncode != 0:
            raise RuntimeError("dpkg -i failed:\n" + result.stdout + result.stderr)
        cls.files = [path for path in run(["dpkg-query", "-L", PACKAGE]).stdout.split("\n") if path]

    @classmethod
    def purge(cls):
        purged = dpkg("--purge", PACKAGE)
        left = [path for path in cls.files if os.path.lexists(path) and not os.path.isdir(path)]
        left += [path for path in (f"/usr/share/doc/{PACKAGE}",) if os.path.exists(path)]
        # dpkg keeps no record of the package, configuration files included.
        known = run(["dpkg-query", "-W", PACKAGE]).returncode == 0
        if purged.returncode != 0 or left or known:
            raise AssertionError(f"{purged.stdout}{purged.stderr}left after purge: {left}, still known: {known}")

    def test_name_version_dependencies_and_files(self):
        version = os.environ["TEVOLI_VERSION"]
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(os.path.basename(self.deb), f"{PACKAGE}_{version}_{arch}.deb")
        fields = dict(line.split(": ", 1) for line in
                      run(["dpkg-deb", "-f", self.deb, "Package", "Version", "Depends"]).stdout.splitlines())
        self.assertEqual((fields["Package"], fields["Version"]), (PACKAGE, version))
        depends = {re.sub(r" \(.*\)$", "", item.strip()) for item in fields["Depends"].split(",")}
        # One library per service, found in the binaries by dpkg-shlibdeps, and the data loaded at run time.
        needed = {"libpulse0", "libcurl4", "libxcb1", "libavcodec59", "libtesseract5", "libpocketsphinx3",
                  "libturbojpeg0", "pocketsphinx-en-us", "tesseract-ocr-eng"}
        self.assertLessEqual(needed, depends)
        # The programs, their pages and nothing else.
        files = {path for path in self.files if not os.path.isdir(path)}
        expected = {f"{BIN}/{program}" for program in PROGRAMS}
        expected |= {f"/usr/share/man/man1/{program}.1.gz" for program in PROGRAMS}
        expected |= {f"/usr/share/doc/{PACKAGE}/copyright", f"/usr/share/doc/{PACKAGE}/changelog.gz",
                     "/usr/share/applications/tevoli-window.desktop"}
        expected |= {f"/usr/share/gnome-shell/extensions/{uuid}/{name}" for uuid in SHELL_EXTENSIONS
                     for name in ("extension.js", "metadata.json")}
        self.assertEqual(files, expected)

    def test_lintian_finds_no_error(self):
        result = run(["lintian", "--fail-on", "error", self.deb])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_man_finds_every_page(self):
        for program in PROGRAMS:
            with self.subTest(program):
                page = run(["man", "--warnings", program], env=dict(os.environ, MANWIDTH="80", MANPAGER="cat",
                                                                    LC_ALL="C.UTF-8"))
                self.assertEqual((page.returncode, page.stderr), (0, ""))
                self.assertIn(f"{program} - ", page.stdout)
                self.assertIn("EXIT STATUS", page.stdout)

    @contextlib.contextmanager
    def native_window(self, service):
        """Opens a native window on `service` and lists it with the installed tevoli-window; a
        compositor just started may answer after the list's wait, so it lists as a host polls."""
        windows, seen = WindowClients(service.env), []
        try:
            windows.open("zoom", "--size", "640x480", "--title", "Weekly sync", client="wayland_window.py")
            with contextlib.suppress(TimeoutError):
                wait_until(lambda: seen.append(run([f"{BIN}/tevoli-window"], env=service.env)) or
                           json.loads(seen[-1].stdout)["windows"], 30, 0.2)
            self.assertTrue(json.loads(seen[-1].stdout)["windows"], seen[-1].stderr)
            yield json.loads(seen[-1].stdout)["windows"]
        finally:
            windows.close_all()

    def test_window_captures_a_native_window_on_kwin(self):
        # KWin grants the screenshot through the .desktop file the package installed.
        shot = os.path.join(self.work, "native.jpg")
        with PrivateKWin() as kwin, self.native_window(kwin) as listed:
            capture = run([f"{BIN}/tevoli-window", "--capture", str(listed[0]["id"]), shot], env=kwin.env)
        self.assertEqual((capture.returncode, capture.stdout, capture.stderr), (0, "", ""))
        self.assertEqual(read_image(shot)[:2], (1280, 960))

    def test_window_lists_a_gnome_window_through_the_installed_extension(self):
        # Both uuids enabled, as a user may: the Shell runs the one for its version.
        with PrivateGnomeShell(enable=SHELL_EXTENSIONS) as shell, self.native_window(shell) as listed:
            self.assertEqual([(w["app"], w["title"], w["width"]) for w in listed],
                             [("Zoom", "Weekly sync", 640)])


if __name__ == "__main__":
    unittest.main()
