"""tevoli-detect as the host runs it, against a private PulseAudio and a private PipeWire, mostly
in a PID namespace with a /proc of its own: the applications are those the test starts."""
import contextlib
import os
import shutil
import subprocess
import tempfile
import unittest

from tevoli_harness import OWN_PIDS, PrivatePipeWire, PrivatePulse, binary, run, stop, wait_until

IDLE = b'{"micInUse":false,"apps":[]}\n'

# Starts each named copy, waits until it really runs that executable, then becomes the detector.
LAUNCHER = r'''
for copy; do
  "$copy" 60 &
  while [ "$(readlink /proc/$!/exe)" != "$copy" ]; do sleep 0.01; done
done
exec "$DETECT"
'''


class Detect:
    SERVER = None

    @classmethod
    def setUpClass(cls):
        cls.pulse = cls.enterClassContext(cls.SERVER())
        cls.copies = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="tevoli-detect-"))

    def detect(self, apps=(), env=None, whole_machine=False, stdout=subprocess.PIPE):
        """The report from a PID namespace of copies of sleep named `apps`, or from the whole machine."""
        copies = [os.path.join(self.copies, name) for name in apps]
        for copy in copies:
            if not os.path.exists(copy):
                shutil.copy(shutil.which("sleep"), copy)
        if not whole_machine and run(*OWN_PIDS, "true").returncode != 0:
            self.skipTest("cannot make a PID namespace here")
        command = ["tevoli-detect"] if whole_machine else [*OWN_PIDS, "sh", "-c", LAUNCHER, "sh", *copies]
        result = run(*command, env=dict(env or self.pulse.env, DETECT=binary("tevoli-detect")), stdout=stdout,
                     timeout=60)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        return result.stdout

    @contextlib.contextmanager
    def recording(self):
        recorder = self.pulse.record_default_source()
        try:
            wait_until(lambda: self.pulse.source_state() == "RUNNING", 20, what="recording")
            yield
        finally:
            stop(recorder)
        wait_until(lambda: self.pulse.source_state() != "RUNNING", 20, what="recording to end")

    def test_recording_from_the_default_source_is_a_microphone_in_use_unless_it_is_a_monitor(self):
        # Meeting applications are named once each, and letter case matters.
        apps = b'"apps":["Zoom","Browser"]}\n'
        self.assertEqual(self.detect(["zoom", "firefox", "Zoom", "zoom-helper", "firefox-esr"]),
                         b'{"micInUse":false,' + apps)
        with self.recording():
            self.assertEqual(self.detect(["zoom", "firefox"]), b'{"micInUse":true,' + apps)
            # Among the processes of the whole machine, many of whose identities cannot be read.
            self.assertRegex(self.detect(whole_machine=True), rb'\A\{"micInUse":true,"apps":\[("[^"]+",?)*\]\}\n\Z')
        self.pulse.set_default("source", self.pulse.SINK + ".monitor")
        try:
            with self.recording():
                self.assertEqual(self.detect(), IDLE)
        finally:
            self.pulse.set_default("source", self.pulse.SOURCE)

    def test_no_sound_server_is_no_microphone_and_a_reader_that_went_away_no_error(self):
        env = dict(os.environ, PULSE_SERVER="unix:" + os.path.join(self.copies, "no-such-socket"))
        self.assertEqual(self.detect(env=env), IDLE)
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            self.detect(whole_machine=True, stdout=write_end)
        finally:
            os.close(write_end)


class OnPulseAudio(Detect, unittest.TestCase):
    SERVER = PrivatePulse


class OnPipeWire(Detect, unittest.TestCase):
    SERVER = PrivatePipeWire


if __name__ == "__main__":
    unittest.main()
