"""tevoli-systemaudio as the host runs it, against a private PulseAudio daemon and a
private PipeWire with its pulse server."""
import ctypes
import os
import select
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import media
import tevoli_harness
from systemaudio_client import SystemAudioCapture, frequency, level_dbfs, tones

RATE = 48000  # not the servers' default, so the header must come from the sink
OTHER_RATE = 44100  # sinks that come later run at other rates: the server converts
CAPTURING = f"tevoli-systemaudio: capturing {RATE} Hz, 2 ch\n"
TAP_FAILED = ("tevoli-systemaudio: AudioHardwareCreateProcessTap failed "
              "(is audio-capture permission granted?)\n")
PR_SET_CHILD_SUBREAPER = 36
# A process of a PID namespace of its own, whose first process (process 1) starts it.
UNDER_PROCESS_ONE = ["unshare", "--pid", "--fork", "--mount-proc"] + (["--map-root-user"] if os.getuid() else [])


def loud_runs(samples, rate, threshold=0.05, gap=0.1):
    """(first, last) stereo frames of each stretch whose left channel is louder than
    `threshold`, stretches split where it is quiet for `gap` seconds."""
    runs = []
    for i, s in enumerate(samples[0::2]):
        if abs(s) <= threshold:
            continue
        if runs and i - runs[-1][1] <= gap * rate:
            runs[-1][1] = i
        else:
            runs.append([i, i])
    return [tuple(r) for r in runs]


class SourceWatch:
    """Polls the server for the source our record stream is attached to, and keeps
    every source it was seen on that is not a sink's monitor."""

    def __init__(self, server):
        self.server = server
        self.not_monitors = set()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._poll, daemon=True)
        self.thread.start()

    def current(self):
        """The name of the source our stream records and whether it is a monitor, or None."""
        ours = [o["source"] for o in self.server.pactl_json("list", "source-outputs")
                if o["properties"].get("application.name") == "tevoli-systemaudio"]
        for source in self.server.pactl_json("list", "sources"):
            if ours and source["index"] == ours[0]:
                return source["name"], source.get("monitor_source", "") not in ("", "n/a")
        return None

    def _poll(self):
        while not self.stopping.wait(0.05):
            try:
                seen = self.current()
            except subprocess.CalledProcessError:
                continue  # a device vanished between the two listings
            if seen and not seen[1]:
                self.not_monitors.add(seen[0])

    def wait_for(self, monitor):
        tevoli_harness.wait_until(lambda: (self.current() or (None,))[0] == monitor, 15,
                                  what=f"the capture on {monitor}")

    def stop(self):
        self.stopping.set()
        self.thread.join()


class SystemAudio:
    """The tests, run against each sound server."""

    SERVER = None

    @classmethod
    def setUpClass(cls):
        cls.server = cls.SERVER(rate=RATE).__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        cls.media = tempfile.TemporaryDirectory(prefix="tevoli-systemaudio-test-")
        cls.addClassCleanup(cls.media.cleanup)
        cls.tone = cls.write_tone("tone.wav", 2.0, 1000.0)
        cls.before = cls.write_tone("before.wav", 0.6, 1000.0)
        cls.after = cls.write_tone("after.wav", 0.6, 500.0)

    @classmethod
    def write_tone(cls, name, seconds, frequency):
        path = os.path.join(cls.media.name, name)
        media.write_tone(path, seconds, frequency=frequency, rate=RATE)
        return path

    def fresh_server(self):
        server = self.SERVER(rate=RATE).__enter__()
        self.addCleanup(server.__exit__, None, None, None)
        return server

    def start(self, server=None):
        capture = SystemAudioCapture((server or self.server).env)
        self.addCleanup(lambda: capture.proc.poll() is None and capture.proc.kill())
        self.assertEqual(capture.header, f"TEVOLI_AUDIO {RATE} 2\n".encode())
        capture.wait_for_audio()
        return capture

    def play(self, tone, server=None, sink=None):
        """Plays a tone to its end, into our sink or `sink`."""
        self.assertEqual((server or self.server).play(tone, sink).wait(30), 0)

    def heard(self, capture):
        """Waits until the stream holds what was played so far, then stops the program."""
        capture.wait_for_audio(seconds_after_first=0.3 + capture.byte_count() / (RATE * 8))
        self.assertEqual(capture.finish(signal.SIGTERM), (0, CAPTURING))
        return capture.samples()

    def test_a_played_tone_comes_out_at_the_announced_format(self):
        capture = self.start()
        self.play(self.tone)
        samples = self.heard(capture)
        runs = loud_runs(samples, RATE)
        self.assertEqual(len(runs), 1, "only silence was captured" if not runs else "the tone has a gap")
        first, last = runs[0]
        tone = samples[2 * first:2 * last]
        self.assertEqual(tone[0::2], tone[1::2], "a mono tone plays alike on both channels")
        self.assertAlmostEqual(level_dbfs(tone[0::2]), -9.0, delta=1.5)  # a 0.5 sine
        self.assertAlmostEqual(frequency(tone[0::2], RATE), 1000.0, delta=10.0)
        self.assertAlmostEqual((last - first) / RATE, 2.0, delta=0.02)

    def test_a_paused_reader_loses_nothing(self):
        capture = self.start()
        capture.pause()
        self.play(self.tone)
        time.sleep(1.0)  # the program keeps capturing far beyond what the pipe holds
        capture.resume()
        runs = loud_runs(self.heard(capture), RATE)
        self.assertEqual(len(runs), 1, "the tone was lost" if not runs else "the tone has a gap")
        first, last = runs[0]
        self.assertAlmostEqual((last - first) / RATE, 2.0, delta=0.02, msg="part of the tone was lost")

    def test_the_capture_follows_the_default_sink_and_never_a_microphone(self):
        def switch(server):
            server.add_sink("tevoli_other", OTHER_RATE)
            server.pactl("set-default-sink", "tevoli_other")
            return "tevoli_other"

        def unload_recorded(server):
            server.add_sink("tevoli_other", OTHER_RATE)
            [ours] = [s for s in server.pactl_json("list", "sinks") if s["name"] == server.SINK]
            server.pactl("unload-module", str(ours["owner_module"]))
            return "tevoli_other"

        def unplugged_and_back(server):
            [ours] = [s for s in server.pactl_json("list", "sinks") if s["name"] == server.SINK]
            server.pactl("unload-module", str(ours["owner_module"]))
            tevoli_harness.wait_until(lambda: server.SINK not in server.pactl("list", "short", "sinks"), 10,
                                      what="the sink to go")
            server.add_sink(server.SINK, OTHER_RATE)
            server.pactl("set-default-sink", server.SINK)
            return server.SINK

        def none_then_one(server):
            server.remove_every_sink()
            tevoli_harness.wait_until(lambda: not server.pactl_json("list", "sinks"), 10, what="no sink")
            time.sleep(0.5)  # the capture goes on with nothing to record
            server.add_sink("tevoli_late", 32000)
            return "tevoli_late"

        for change in (switch, unload_recorded, unplugged_and_back, none_then_one):
            with self.subTest(change.__name__):
                server = self.fresh_server()
                capture = self.start(server)
                watch = SourceWatch(server)
                self.addCleanup(watch.stop)
                self.play(self.before, server)
                sink = change(server)
                watch.wait_for(sink + ".monitor")
                self.play(self.after, server, sink)
                samples = self.heard(capture)
                watch.stop()
                self.assertEqual(watch.not_monitors, set(), "the capture recorded a microphone")
                # At the announced rate, whatever the sink's own: a wrong rate shifts
                # both by 8 % or more.
                heard = tones(samples, RATE, (1000, 500))
                self.assertEqual([tone for tone, _, _ in heard], [1000, 500], heard)
                for tone, hz, seconds in heard:
                    self.assertAlmostEqual(hz / tone, 1.0, delta=0.03, msg=heard)
                    self.assertAlmostEqual(seconds, 0.6, delta=0.04, msg=heard)

    def test_the_host_ends_it_with_status_zero(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                self.assertEqual(self.start().finish(sig), (0, CAPTURING))
        with self.subTest("reader closes its end"):
            capture = self.start()
            capture.close_stream()
            self.assertEqual(capture.finish(), (0, CAPTURING))
        program = tevoli_harness.binary("tevoli-systemaudio")
        with self.subTest("started without standard output"):
            result = subprocess.run(["sh", "-c", 'exec "$0" >&-', program],
                                    env=self.server.env, capture_output=True, timeout=30)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
        with self.subTest("started by process 1: its parent is gone from the start"):
            if subprocess.run([*UNDER_PROCESS_ONE, "true"], capture_output=True).returncode != 0:
                self.skipTest("cannot make a PID namespace here")
            result = subprocess.run([*UNDER_PROCESS_ONE, "sh", "-c", '"$0"; echo "status $?" >&2', program],
                                    env=self.server.env, capture_output=True, timeout=30)
            self.assertEqual(result.stdout, f"TEVOLI_AUDIO {RATE} 2\n".encode())
            self.assertEqual(result.stderr.decode(), CAPTURING + "status 0\n")

    def test_it_ends_when_its_parent_dies(self):
        # We adopt the orphan, as a desktop's service manager would: a parent that
        # is not process 1 must still be noticed.
        libc = ctypes.CDLL(None, use_errno=True)
        self.assertEqual(libc.prctl(PR_SET_CHILD_SUBREAPER, 1), 0)
        self.addCleanup(libc.prctl, PR_SET_CHILD_SUBREAPER, 0)
        parent = subprocess.Popen(["sh", "-c", '"$0" >/dev/null & echo $!; exec sleep 600',
                                   tevoli_harness.binary("tevoli-systemaudio")],
                                  env=self.server.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(parent.wait)
        self.addCleanup(parent.kill)
        child = int(parent.stdout.readline())
        ended = []
        self.addCleanup(lambda: ended or (os.kill(child, signal.SIGKILL), os.waitpid(child, 0)))
        self.assertTrue(select.select([parent.stderr], [], [], 15)[0], "no capturing line")
        self.assertEqual(parent.stderr.readline(), CAPTURING)
        parent.kill()
        parent.wait()

        def reaped():
            pid, status = os.waitpid(child, os.WNOHANG)
            if pid == child:
                ended.append(os.waitstatus_to_exitcode(status))
            return bool(ended)
        # The watchdog looks once a second; a loaded machine gets leeway.
        tevoli_harness.wait_until(reaped, 10, what="the orphan to end")
        self.assertEqual(ended, [0])
        parent.stdout.close()
        parent.stderr.close()

    def run_without_stream(self, env):
        result = subprocess.run([tevoli_harness.binary("tevoli-systemaudio")], env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        return result.returncode, result.stdout, result.stderr.decode()

    def test_no_server_or_no_sink_is_the_tap_failure(self):
        with self.subTest("no server"):
            env = dict(os.environ, PULSE_SERVER="unix:/nonexistent/tevoli/native")
            self.assertEqual(self.run_without_stream(env), (1, b"", TAP_FAILED))
        with self.subTest("no sink"):
            server = self.fresh_server()
            server.remove_every_sink()
            tevoli_harness.wait_until(lambda: not server.pactl_json("list", "sinks"), 10, what="no sink")
            self.assertEqual(self.run_without_stream(server.env), (1, b"", TAP_FAILED))

    def test_the_server_going_away_ends_the_capture_with_a_failure(self):
        server = self.fresh_server()
        capture = self.start(server)
        tevoli_harness.stop(server.proc)
        status, err = capture.finish()
        self.assertEqual(status, 1)
        # The reason is libpulse's own text.
        self.assertRegex(err, r"\Atevoli-systemaudio: capturing \d+ Hz, 2 ch\n"
                              r"tevoli-systemaudio: capture lost: [^\n]+\n\Z")


class OnPulseAudio(SystemAudio, unittest.TestCase):
    SERVER = tevoli_harness.PrivatePulse


class OnPipeWire(SystemAudio, unittest.TestCase):
    SERVER = tevoli_harness.PrivatePipeWire


if __name__ == "__main__":
    unittest.main()
