"""tevoli-systemaudio as the host runs it, against a private PulseAudio daemon and a
private PipeWire with its pulse server."""
import contextlib
import os
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import media
import tevoli_harness
from systemaudio_client import SystemAudioCapture, tones

RATE = 48000  # not the servers' default, so the header must come from the sink
OTHER_RATE = 44100  # sinks that come later run at other rates: the server converts
HEADER = f"TEVOLI_AUDIO {RATE} 2\n".encode()
CAPTURING = f"tevoli-systemaudio: capturing {RATE} Hz, 2 ch\n"
TAP_FAILED = ("tevoli-systemaudio: AudioHardwareCreateProcessTap failed "
              "(is audio-capture permission granted?)\n")


def program_env(env):
    """`env` for the program, with the sound server's loop watched (see loop_stop_watch.cpp)."""
    preload = " ".join(filter(None, (env.get("LD_PRELOAD"), os.environ.get("TEVOLI_LOOP_STOP_WATCH"))))
    return dict(env, LD_PRELOAD=preload)


class SourceWatch(threading.Thread):
    """Polls the server for the source our record stream is attached to, and keeps
    every source it was seen on that is not a sink's monitor."""

    def __init__(self, server):
        super().__init__(daemon=True)
        self.server, self.not_monitors, self.stopping = server, set(), threading.Event()
        self.start()

    def current(self):
        """The name of the source our stream records and whether it is a monitor, or None."""
        ours = [o["source"] for o in self.server.pactl_json("list", "source-outputs")
                if o["properties"].get("application.name") == "tevoli-systemaudio"]
        return next(((s["name"], s.get("monitor_source", "") not in ("", "n/a"))
                     for s in self.server.pactl_json("list", "sources") if s["index"] in ours[:1]), None)

    def run(self):
        while not self.stopping.wait(0.05):
            with contextlib.suppress(subprocess.CalledProcessError):  # a device vanished between two listings
                seen = self.current()
                if seen and not seen[1]:
                    self.not_monitors.add(seen[0])

    def stop(self):
        self.stopping.set()
        self.join()


class SystemAudio:
    """The tests, run against each sound server."""

    SERVER = None

    @classmethod
    def setUpClass(cls):
        cls.server = cls.SERVER(rate=RATE).__enter__()
        cls.addClassCleanup(cls.server.__exit__, None, None, None)
        cls.media = tempfile.TemporaryDirectory(prefix="tevoli-systemaudio-test-")
        cls.addClassCleanup(cls.media.cleanup)
        cls.before, cls.after = (os.path.join(cls.media.name, name) for name in ("before", "after"))
        for path, hz in ((cls.before, 1000.0), (cls.after, 500.0)):
            media.write_tone(path, 0.6, frequency=hz, rate=RATE)

    def fresh_server(self):
        server = self.SERVER(rate=RATE).__enter__()
        self.addCleanup(server.__exit__, None, None, None)
        return server

    def start(self, server=None):
        capture = SystemAudioCapture(program_env((server or self.server).env))
        self.addCleanup(lambda: capture.proc.poll() is None and capture.proc.kill())
        if capture.header != HEADER:
            capture.proc.kill()
            self.fail(f"header {capture.header!r}; the program said {capture.proc.stderr.read()!r}")
        capture.wait_for_audio()
        return capture

    def play(self, tone, server=None, sink=None):
        """Plays a tone to its end, into our sink or `sink`."""
        self.assertEqual((server or self.server).play(tone, sink).wait(30), 0)

    def heard(self, capture, sig):
        """Waits until the stream holds what was played so far, then stops the program with `sig`."""
        capture.wait_for_audio(seconds_after_first=0.3 + capture.byte_count() / (RATE * 8))
        self.assertEqual(capture.finish(sig), (0, CAPTURING))
        return capture.samples()

    def test_the_capture_follows_the_default_sink_and_never_a_microphone_nor_loses_a_sample(self):
        def remove(server, name):
            [sink] = [s for s in server.pactl_json("list", "sinks") if s["name"] == name]
            server.pactl("unload-module", str(sink["owner_module"]))
            tevoli_harness.wait_until(lambda: name not in server.pactl("list", "short", "sinks"), 10, what="no sink")

        def switch(server):
            server.add_sink("tevoli_other", OTHER_RATE)
            server.set_default("sink", "tevoli_other")
            return "tevoli_other"

        def unload_recorded(server):
            server.add_sink("tevoli_other", OTHER_RATE)
            remove(server, server.SINK)
            return "tevoli_other"

        def unplugged_and_back(server):
            remove(server, server.SINK)
            server.add_sink(server.SINK, OTHER_RATE)
            server.set_default("sink", server.SINK)
            return server.SINK

        def none_then_one(server):
            server.remove_every_sink()
            time.sleep(0.5)  # the capture goes on with nothing to record
            server.add_sink("tevoli_late", 32000)
            return "tevoli_late"

        for change in (switch, unload_recorded, unplugged_and_back, none_then_one):
            with self.subTest(change.__name__):
                server = self.fresh_server()
                capture = self.start(server)
                watch = SourceWatch(server)
                self.addCleanup(watch.stop)
                # A host that stops reading for a while: the program keeps capturing far
                # beyond what the pipe holds.
                capture.pause()
                self.play(self.before, server)
                capture.resume()
                # The server acts on our stream alone while the program is stopped: moved, it
                # would sit on the default source, a microphone.
                capture.proc.send_signal(signal.SIGSTOP)
                monitor = change(server) + ".monitor"
                time.sleep(0.3)
                capture.proc.send_signal(signal.SIGCONT)
                tevoli_harness.wait_until(lambda: (watch.current() or (None,))[0] == monitor, 15,
                                          what=f"the capture on {monitor}")
                self.play(self.after, server, monitor[:-len(".monitor")])
                samples = self.heard(capture, signal.SIGINT)
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
        capture = self.start()
        capture.close_stream()
        self.assertEqual(capture.finish(), (0, CAPTURING))
        # The user pressed stop at once.
        capture = SystemAudioCapture(program_env(self.server.env))
        self.assertEqual(capture.finish(signal.SIGTERM), (0, CAPTURING))
        # Started without standard output it has nothing to do; started by process 1,
        # its parent is gone from the start (audio may come before it sees that).
        program = tevoli_harness.binary("tevoli-systemaudio")
        for wrapper, redirect, out, err in (([], ">&-", b"", ""), (tevoli_harness.OWN_PIDS, "", HEADER, CAPTURING)):
            if wrapper and tevoli_harness.run(*wrapper, "true").returncode != 0:
                self.skipTest("cannot make a PID namespace here")
            result = tevoli_harness.run(*wrapper, "sh", "-c", f'"$0" {redirect}; echo "status $?" >&2', program,
                                        env=program_env(self.server.env), timeout=30)
            self.assertEqual((result.stdout[:len(HEADER)], result.stderr.decode()), (out, err + "status 0\n"))

    def test_no_server_or_no_sink_is_the_tap_failure(self):
        server = self.fresh_server()
        server.remove_every_sink()
        for env in (dict(os.environ, PULSE_SERVER="unix:/nonexistent/tevoli/native"), server.env):
            result = tevoli_harness.run("tevoli-systemaudio", env=program_env(env), timeout=30)
            self.assertEqual((result.returncode, result.stdout, result.stderr.decode()), (1, b"", TAP_FAILED))

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
