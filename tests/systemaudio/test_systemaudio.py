"""tevoli-systemaudio as the host runs it, against a private PulseAudio daemon."""
import ctypes
import os
import select
import signal
import subprocess
import tempfile
import time
import unittest

import media
import tevoli_harness
from systemaudio_client import SystemAudioCapture, level_dbfs

RATE = 48000  # not the server default, so the header must come from the sink
CAPTURING = f"tevoli-systemaudio: capturing {RATE} Hz, 2 ch\n"
TAP_FAILED = ("tevoli-systemaudio: AudioHardwareCreateProcessTap failed "
              "(is audio-capture permission granted?)\n")
PR_SET_CHILD_SUBREAPER = 36


def tone_span(samples, threshold=0.05):
    """First and last stereo frame whose left sample is louder than `threshold`."""
    loud = [i for i, s in enumerate(samples[0::2]) if abs(s) > threshold]
    return (loud[0], loud[-1]) if loud else (None, None)


def frequency(left, rate):
    crossings = sum(1 for a, b in zip(left, left[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(left) / rate)


class SystemAudioTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pulse = tevoli_harness.PrivatePulse(rate=RATE).__enter__()
        cls.addClassCleanup(cls.pulse.__exit__, None, None, None)
        cls.media = tempfile.TemporaryDirectory(prefix="tevoli-systemaudio-test-")
        cls.addClassCleanup(cls.media.cleanup)
        cls.tone = os.path.join(cls.media.name, "tone.wav")
        media.write_tone(cls.tone, 2.0, frequency=1000.0, rate=RATE)

    def start(self):
        capture = SystemAudioCapture(self.pulse.env)
        self.addCleanup(lambda: capture.proc.poll() is None and capture.proc.kill())
        self.assertEqual(capture.header, f"TEVOLI_AUDIO {RATE} 2\n".encode())
        capture.wait_for_audio()
        return capture

    def play_tone(self):
        self.assertEqual(self.pulse.play(self.tone).wait(30), 0)

    def test_a_played_tone_comes_out_at_the_announced_format(self):
        capture = self.start()
        self.play_tone()
        capture.wait_for_audio(seconds_after_first=0.2 + capture.byte_count() / (RATE * 8))
        self.assertEqual(capture.finish(signal.SIGTERM), (0, CAPTURING))

        samples = capture.samples()
        first, last = tone_span(samples)
        self.assertIsNotNone(first, "only silence was captured")
        tone = samples[2 * first:2 * last]
        self.assertEqual(tone[0::2], tone[1::2], "a mono tone plays alike on both channels")
        self.assertAlmostEqual(level_dbfs(tone[0::2]), -9.0, delta=1.5)  # a 0.5 sine
        self.assertAlmostEqual(frequency(tone[0::2], RATE), 1000.0, delta=10.0)

    def test_a_paused_reader_loses_nothing(self):
        capture = self.start()
        capture.pause()
        self.play_tone()
        time.sleep(1.0)  # the program keeps capturing far beyond what the pipe holds
        capture.resume()
        capture.wait_for_audio(seconds_after_first=(time.monotonic() - capture.first_audio) - 0.2)
        stopped = time.monotonic()
        self.assertEqual(capture.finish(signal.SIGTERM)[0], 0)

        samples = capture.samples()
        first, last = tone_span(samples)
        self.assertIsNotNone(first, "the tone was lost")
        self.assertAlmostEqual((last - first) / RATE, 2.0, delta=0.02, msg="the tone has a gap")
        streamed = (stopped - capture.first_audio) * RATE * 8
        self.assertAlmostEqual(len(samples) * 4 / streamed, 1.0, delta=0.1,
                               msg="the byte count does not match the time captured")

    def test_the_host_ends_it_with_status_zero(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                self.assertEqual(self.start().finish(sig), (0, CAPTURING))
        with self.subTest("reader closes its end"):
            capture = self.start()
            capture.close_stream()
            self.assertEqual(capture.finish(), (0, CAPTURING))
        with self.subTest("started without standard output"):
            result = subprocess.run(["sh", "-c", 'exec "$0" >&-', tevoli_harness.binary("tevoli-systemaudio")],
                                    env=self.pulse.env, capture_output=True, timeout=30)
            self.assertEqual((result.returncode, result.stderr), (0, b""))

    def test_it_ends_when_its_parent_dies(self):
        # We adopt the orphan, as a desktop's service manager would: a parent that
        # is not process 1 must still be noticed.
        libc = ctypes.CDLL(None, use_errno=True)
        self.assertEqual(libc.prctl(PR_SET_CHILD_SUBREAPER, 1), 0)
        self.addCleanup(libc.prctl, PR_SET_CHILD_SUBREAPER, 0)
        parent = subprocess.Popen(["sh", "-c", '"$0" >/dev/null & echo $!; exec sleep 600',
                                   tevoli_harness.binary("tevoli-systemaudio")],
                                  env=self.pulse.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
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


class WithoutServerTest(unittest.TestCase):
    def run_without_stream(self, env):
        result = subprocess.run([tevoli_harness.binary("tevoli-systemaudio")], env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        return result.returncode, result.stdout, result.stderr.decode()

    def test_no_server_or_no_sink_is_the_tap_failure(self):
        env = dict(os.environ, PULSE_SERVER="unix:/nonexistent/tevoli/native")
        self.assertEqual(self.run_without_stream(env), (1, b"", TAP_FAILED))
        with tevoli_harness.PrivatePulse() as pulse:
            pulse.pactl("unload-module", "module-null-sink")
            self.assertEqual(self.run_without_stream(pulse.env), (1, b"", TAP_FAILED))

    def test_the_server_going_away_ends_the_capture_with_a_failure(self):
        with tevoli_harness.PrivatePulse() as pulse:
            capture = SystemAudioCapture(pulse.env)
            self.addCleanup(lambda: capture.proc.poll() is None and capture.proc.kill())
            capture.wait_for_audio()
            tevoli_harness.stop(pulse.proc)
            status, err = capture.finish()
        self.assertEqual(status, 1)
        # The reason is libpulse's own text.
        self.assertRegex(err, r"\Atevoli-systemaudio: capturing \d+ Hz, 2 ch\n"
                              r"tevoli-systemaudio: capture lost: [^\n]+\n\Z")


if __name__ == "__main__":
    unittest.main()
