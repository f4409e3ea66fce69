"""tevoli-systemaudio run as the host runs it: the header line, then float32 PCM, which
goes to a file through `cat` (`reader`, which a test may stop as a host that stops reading)."""
import array
import math
import os
import signal
import subprocess
import tempfile
import threading
import time

import tevoli_harness


class SystemAudioCapture:
    def __init__(self, env):
        self.started = time.monotonic()
        # Unbuffered: the header is read a byte at a time, leaving the audio to `cat`.
        self.proc = subprocess.Popen([tevoli_harness.binary("tevoli-systemaudio")], env=env, bufsize=0,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # A program that never writes its header is killed, so the test fails rather than hangs.
        no_header = threading.Timer(10, self.proc.kill)
        no_header.start()
        self.header = self.proc.stdout.readline()
        no_header.cancel()
        self.header_time = time.monotonic()
        fields = self.header.split()
        self.rate, self.channels = (int(fields[1]), int(fields[2])) if fields[:1] == [b"TEVOLI_AUDIO"] else (0, 0)
        self.audio = tempfile.TemporaryFile(prefix="tevoli-audio-")
        self.reader = subprocess.Popen(["cat"], stdin=self.proc.stdout, stdout=self.audio)
        self.proc.stdout.close()

    def byte_count(self):
        return os.fstat(self.audio.fileno()).st_size

    def wait_for_audio(self, seconds_after_first=0.0, timeout=15):
        """Waits for the first audio byte, then `seconds_after_first` of stream."""
        tevoli_harness.wait_until(lambda: self.byte_count() > 0, timeout, what="first audio")
        want = int(seconds_after_first * self.rate) * self.channels * 4
        tevoli_harness.wait_until(lambda: self.byte_count() >= want, timeout + seconds_after_first, what="audio")

    def finish(self, sig=None, timeout=10):
        """(status, standard error) once the program ended (with `sig`) and its stream is read."""
        if sig is not None:
            self.proc.send_signal(sig)
        status = self.proc.wait(timeout)
        self.reader.send_signal(signal.SIGCONT)  # a host that had stopped reading reads on
        self.reader.wait(timeout)
        with self.proc.stderr:
            return status, self.proc.stderr.read().decode()

    def samples(self):
        """The stream as floats, whole frames only."""
        self.audio.seek(0)
        data = self.audio.read()
        return array.array("f", data[:len(data) - len(data) % (4 * max(self.channels, 1))])


def level_dbfs(samples):
    rms = math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0
    return 20 * math.log10(rms) if rms > 0 else -math.inf


def tones(samples, rate, frequencies):
    """The stream's tones in order as (nominal, measured frequency, seconds), from 10 ms
    pieces of the left channel as loud as write_tone's, each counted for the frequency
    its zero crossings are nearest. A starved player's silence is no fault of ours."""
    size, left, found = rate // 100, samples[0::2], []  # [tone, first frame, end, crossings, pieces]
    for start in range(0, len(left) - size, size):
        piece = left[start:start + size + 1]  # with the next sample: no crossing falls between pieces
        crossings = sum((a < 0) != (b < 0) for a, b in zip(piece, piece[1:]))
        tone = min(frequencies, key=lambda f: abs(crossings * 50 - f))
        if level_dbfs(piece[:-1]) < -10.5 or abs(crossings * 50 - tone) > tone / 4:
            continue  # quiet, or where one tone ends and the next begins
        if not found or found[-1][0] != tone:
            found.append([tone, start, 0, 0, 0])
        found[-1][2:] = [start + size, found[-1][3] + crossings, found[-1][4] + 1]
    return [(tone, crossings * 50 / pieces, round((end - first) / rate, 3))
            for tone, first, end, crossings, pieces in found]
