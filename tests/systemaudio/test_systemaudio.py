"""tevoli-systemaudio as the host runs it, against a private PulseAudio daemon and a
private PipeWire with its pulse server."""
import contextlib
import os
import signal
import subprocess
import tempfile
import time
import unittest

import media
from tevoli_harness import OWN_PIDS, PrivatePipeWire, PrivatePulse, binary, run, stop, wait_until
from systemaudio_client import SystemAudioCapture, tones

RATE = 48000  # not the servers' default, so the header must come from the sink
OTHER_RATE = 44100  # sinks that come later run at other rates: the server converts
HEADER = f"TEVOLI_AUDIO {RATE} 2\n".encode()
CAPTURING = f"tevoli-systemaudio: capturing {RATE} Hz, 2 ch\n"
TAP_FAILED = ("tevoli-systemaudio: AudioHardwareCreateProcessTap failed "
              "(is audio-capture permission granted?)\n")


def recorded(server):
    """{source: whether it is a sink's monitor} of our record streams."""
    with contextlib.suppress(subprocess.CalledProcessError):  # a device vanished between two listings
        ours = {o["source"] for o in server.pactl_json("list", "source-outputs")
                if o["properties"].get("application.name") == "tevoli-systemaudio"}
        return {s["name"]: s.get("monitor_source", "") not in ("", "n/a")
                for s in server.pactl_json("list", "sources") if s["index"] in ours}
    return {}


# What the user does to the sinks; each returns the sink whose monitor is recorded after.
def switch(server):
    server.add_sink("tevoli_other", OTHER_RATE)
    server.set_default("sink", "tevoli_other")
    return "tevoli_other"


def unload_recorded(server):
    server.add_sink("tevoli_other", OTHER_RATE)
    server.remove_sinks(server.SINK)
    return "tevoli_other"


def unplugged_and_back(server):
    server.remove_sinks(server.SINK)
    server.add_sink(server.SINK, OTHER_RATE)
    server.set_default("sink", server.SINK)
    return server.SINK


def none_then_one(server):
    server.remove_sinks()
    time.sleep(0.5)  # the capture goes on with nothing to record
    server.add_sink("tevoli_late", 32000)
    return "tevoli_late"


class SystemAudio:
    """The tests, run against each sound server."""

    SERVER = None

    @classmethod
    def setUpClass(cls):
        folder = tempfile.TemporaryDirectory(prefix="tevoli-systemaudio-test-")
        cls.addClassCleanup(folder.cleanup)
        cls.before, cls.after = (os.path.join(folder.name, name) for name in ("before", "after"))
        for path, hz in ((cls.before, 1000.0), (cls.after, 500.0)):
            media.write_tone(path, 0.6, frequency=hz, rate=RATE)

    def setUp(self):
        self.server = self.SERVER(rate=RATE).__enter__()
        self.addCleanup(self.server.__exit__)

    def start(self):
        capture = SystemAudioCapture(self.server.env)
        self.addCleanup(lambda: capture.proc.poll() is None and capture.proc.kill())
        if capture.header != HEADER:
            capture.proc.kill()
            self.fail(f"header {capture.header!r}; the program said {capture.proc.stderr.read()!r}")
        capture.wait_for_audio()
        return capture

    def test_the_capture_follows_the_default_sink_and_never_a_microphone_nor_loses_a_sample(self):
        for change in (switch, unload_recorded, unplugged_and_back, none_then_one):
            with self.subTest(change.__name__):
                if change is not switch:
                    self.setUp()  # each change on a server of its own
                capture = self.start()
                # A host that stops reading for a while: the program keeps capturing far
                # beyond what the pipe holds.
                capture.reader.send_signal(signal.SIGSTOP)
                self.assertEqual(self.server.play(self.before).wait(30), 0)
                capture.reader.send_signal(signal.SIGCONT)
                # The server acts on our stream alone while the program is stopped: moved, it
                # would sit on the default source, a microphone.
                capture.proc.send_signal(signal.SIGSTOP)
                monitor = change(self.server) + ".monitor"
                time.sleep(0.3)
                self.assertNotIn(False, recorded(self.server).values(), "the capture records a microphone")
                capture.proc.send_signal(signal.SIGCONT)
                wait_until(lambda: monitor in recorded(self.server), 15, what=f"the capture on {monitor}")
                self.assertEqual(self.server.play(self.after, monitor[:-len(".monitor")]).wait(30), 0)
                capture.wait_for_audio(seconds_after_first=0.3 + capture.byte_count() / (RATE * 8))
                self.assertEqual(capture.finish(signal.SIGINT), (0, CAPTURING))
                # At the announced rate, whatever the sink's own: a wrong rate shifts
                # both by 8 % or more.
                heard = tones(capture.samples(), RATE, (1000, 500))
                self.assertEqual([tone for tone, _, _ in heard], [1000, 500], heard)
                for tone, hz, seconds in heard:
                    self.assertAlmostEqual(hz / tone, 1.0, delta=0.03, msg=heard)
                    self.assertAlmostEqual(seconds, 0.6, delta=0.04, msg=heard)

    def test_the_host_ends_it_with_status_zero(self):
        capture = self.start()
        capture.reader.kill()  # the host closes its end of the pipe
        self.assertEqual(capture.finish(), (0, CAPTURING))
        # The user pressed stop at once.
        self.assertEqual(SystemAudioCapture(self.server.env).finish(signal.SIGTERM), (0, CAPTURING))
        # Started without standard output it has nothing to do; started by process 1,
        # its parent is gone from the start (audio may come before it sees that).
        for wrapper, redirect, out, err in (([], ">&-", b"", ""), (OWN_PIDS, "", HEADER, CAPTURING)):
            if wrapper and run(*wrapper, "true").returncode != 0:
                self.skipTest("cannot make a PID namespace here")
            result = run(*wrapper, "sh", "-c", f'"$0" {redirect}; echo "status $?" >&2',
                         binary("tevoli-systemaudio"), env=self.server.env, timeout=30)
            self.assertEqual((result.stdout[:len(HEADER)], result.stderr.decode()), (out, err + "status 0\n"))

    def test_no_server_or_no_sink_is_the_tap_failure(self):
        self.server.remove_sinks()
        for env in (dict(os.environ, PULSE_SERVER="unix:/nonexistent/tevoli/native"), self.server.env):
            result = run("tevoli-systemaudio", env=env, timeout=30)
            self.assertEqual((result.returncode, result.stdout, result.stderr.decode()), (1, b"", TAP_FAILED))

    def test_the_server_going_away_ends_the_capture_with_a_failure(self):
        capture = self.start()
        stop(self.server.proc)
        status, err = capture.finish()
        self.assertEqual(status, 1)
        # The reason is libpulse's own text.
        self.assertRegex(err, r"\Atevoli-systemaudio: capturing \d+ Hz, 2 ch\n"
                              r"tevoli-systemaudio: capture lost: [^\n]+\n\Z")


class OnPulseAudio(SystemAudio, unittest.TestCase):
    SERVER = PrivatePulse


class OnPipeWire(SystemAudio, unittest.TestCase):
    SERVER = PrivatePipeWire


if __name__ == "__main__":
    unittest.main()
