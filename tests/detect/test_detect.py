"""tevoli-detect as the host runs it: a pipe, the exit status, a private PulseAudio
and a private PipeWire.

Most runs happen in a PID namespace of their own with a fresh /proc, so the
applications in the report are exactly the ones the test started, whatever else
runs on the machine.
"""
import contextlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from tevoli_harness import PrivatePipeWire, PrivatePulse, binary, spawn, stop, wait_until

IDLE = b'{"micInUse":false,"apps":[]}\n'

# Starts each named copy, waits until it really runs that executable, then becomes the detector.
LAUNCHER = r'''
for copy; do
  "$copy" 60 &
  while [ "$(readlink /proc/$!/exe)" != "$copy" ]; do sleep 0.01; done
done
exec "$DETECT"
'''

# Without root, a user namespace grants the right to make the PID namespace.
OWN_PIDS = ["unshare", "--pid", "--fork", "--mount-proc"] + (["--map-root-user"] if os.getuid() else [])


class Detect:
    """The tests, run against each sound server."""

    SERVER = None

    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        cls.pulse = cls.stack.enter_context(cls.SERVER())
        cls.copies = tempfile.mkdtemp(prefix="tevoli-detect-")
        cls.stack.callback(shutil.rmtree, cls.copies, ignore_errors=True)
        cls.detect = binary("tevoli-detect")
        cls.isolated = subprocess.run([*OWN_PIDS, "true"], capture_output=True).returncode == 0

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def copy_named(self, name):
        """A harmless program (sleep) under a meeting application's name."""
        path = os.path.join(self.copies, name)
        if not os.path.exists(path):
            shutil.copy(shutil.which("sleep"), path)
        return path

    def run_detect(self, command, env=None):
        result = subprocess.run(command, env=dict(env or self.pulse.env, DETECT=self.detect),
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        return result.stdout

    def run_isolated(self, apps=(), env=None):
        """The report from a PID namespace that holds only copies named `apps`."""
        if not self.isolated:
            self.skipTest("cannot make a PID namespace here")
        copies = [self.copy_named(name) for name in apps]
        return self.run_detect([*OWN_PIDS, "sh", "-c", LAUNCHER, "sh", *copies], env)

    def default_source_state(self):
        source = self.pulse.pactl("get-default-source").strip()
        lines = self.pulse.pactl("list", "short", "sources").splitlines()
        return {f[1]: f[-1] for f in (line.split("\t") for line in lines)}[source]

    @contextlib.contextmanager
    def recording(self):
        recorder = self.pulse.record_default_source()
        try:
            wait_until(lambda: self.default_source_state() == "RUNNING", 20, what="recording")
            yield
        finally:
            stop(recorder)
        wait_until(lambda: self.default_source_state() != "RUNNING", 20, what="recording to end")

    def test_recording_from_the_default_source_is_a_microphone_in_use_unless_it_is_a_monitor(self):
        self.assertEqual(self.run_isolated(), IDLE)
        zoom = spawn([self.copy_named("zoom"), "60"])
        try:
            wait_until(lambda: os.readlink(f"/proc/{zoom.pid}/exe") == self.copy_named("zoom"), 10, what="zoom copy")
            with self.recording():
                # On the whole machine, among processes whose identity cannot be read.
                line = self.run_detect([self.detect])
        finally:
            stop(zoom)
        self.assertTrue(line.startswith(b'{"micInUse":true,"apps":[') and line.endswith(b"]}\n"), line)
        self.assertEqual(json.loads(line)["apps"].count("Zoom"), 1)
        self.set_default_source(self.pulse.SINK + ".monitor")
        try:
            with self.recording():
                self.assertEqual(self.run_isolated(), IDLE)
        finally:
            self.set_default_source(self.pulse.SOURCE)

    def set_default_source(self, name):
        self.pulse.pactl("set-default-source", name)
        wait_until(lambda: self.pulse.pactl("get-default-source").strip() == name, 10, what=f"default source {name}")

    def test_no_sound_server_is_no_microphone_and_no_error(self):
        env = dict(os.environ, PULSE_SERVER="unix:" + os.path.join(self.copies, "no-such-socket"))
        self.assertEqual(self.run_isolated(env=env), IDLE)

    def test_meeting_apps_are_named_once_and_letter_case_matters(self):
        line = self.run_isolated(["zoom", "firefox", "firefox-esr", "Zoom", "zoom-helper"])
        self.assertIn(line, (b'{"micInUse":false,"apps":["Zoom","Browser"]}\n',
                             b'{"micInUse":false,"apps":["Browser","Zoom"]}\n'))

    def test_a_reader_that_went_away_still_gives_status_0(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            result = subprocess.run([self.detect], env=self.pulse.env, stdin=subprocess.DEVNULL,
                                    stdout=write_end, stderr=subprocess.PIPE, timeout=60)
        finally:
            os.close(write_end)
        self.assertEqual((result.returncode, result.stderr), (0, b""))



class OnPulseAudio(Detect, unittest.TestCase):
    SERVER = PrivatePulse


class OnPipeWire(Detect, unittest.TestCase):
    SERVER = PrivatePipeWire


if __name__ == "__main__":
    unittest.main()
