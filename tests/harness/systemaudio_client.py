"""Runs tevoli-systemaudio as the host does and reads its stream: the header line,
then float32 little-endian interleaved PCM. Shared by the tests, the demo and the
benchmark."""
import array
import math
import os
import select
import subprocess
import threading
import time

import tevoli_harness


class SystemAudioCapture:
    def __init__(self, env, header_timeout=10, program=None):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([program or tevoli_harness.binary("tevoli-systemaudio")], env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.fd = self.proc.stdout.fileno()
        self.audio, self.first_audio, self.lock = bytearray(), None, threading.Lock()
        self.reading, self.closing = threading.Event(), threading.Event()
        self.reading.set()
        self.header = self._read_header(header_timeout)
        self.header_time = time.monotonic()
        fields = self.header.split()
        self.rate, self.channels = (int(fields[1]), int(fields[2])) if fields[:1] == [b"TEVOLI_AUDIO"] else (0, 0)
        self.thread = threading.Thread(target=self._read_audio, daemon=True)
        self.thread.start()

    def _read_header(self, timeout):
        line, deadline = b"", time.monotonic() + timeout
        while not line.endswith(b"\n"):
            if not select.select([self.fd], [], [], max(0, deadline - time.monotonic()))[0]:
                raise TimeoutError("no header line")
            byte = os.read(self.fd, 1)  # one at a time: nothing of the audio is taken
            if not byte:
                break
            line += byte
        return line

    def _read_audio(self):
        while not self.closing.is_set():
            if not self.reading.wait(0.1) or not select.select([self.fd], [], [], 0.1)[0]:
                continue
            data = os.read(self.fd, 1 << 16)
            if not data:
                return
            with self.lock:
                self.first_audio = self.first_audio or time.monotonic()
                self.audio += data

    def pause(self):
        self.reading.clear()

    def resume(self):
        self.reading.set()

    def close_stream(self):
        """The host stops reading and closes its end of the pipe."""
        self.closing.set()
        self.thread.join()
        self.proc.stdout.close()

    def byte_count(self):
        with self.lock:
            return len(self.audio)

    def wait_for_audio(self, seconds_after_first=0.0, timeout=15):
        """Waits for the first audio byte, then `seconds_after_first` of stream."""
        tevoli_harness.wait_until(lambda: self.first_audio is not None, timeout, what="first audio")
        want = int(seconds_after_first * self.rate) * self.channels * 4
        tevoli_harness.wait_until(lambda: self.byte_count() >= want, timeout + seconds_after_first, what="audio")

    def finish(self, sig=None, timeout=10):
        """Stops the program (with `sig`, or waits for it to end); returns (status,
        stderr text) once the stream is read to its end."""
        if sig is not None:
            self.proc.send_signal(sig)
        status = self.proc.wait(timeout)
        self.resume()
        self.thread.join(timeout)
        err = self.proc.stderr.read().decode()
        self.proc.stdout.close()
        self.proc.stderr.close()
        return status, err

    def samples(self):
        """The stream as floats, whole frames only."""
        with self.lock:
            whole = len(self.audio) - len(self.audio) % (4 * max(self.channels, 1))
            return array.array("f", bytes(self.audio[:whole]))


def level_dbfs(samples):
    """RMS level of float samples in dB below full scale."""
    rms = math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0
    return 20 * math.log10(rms) if rms > 0 else -math.inf


def frequency(left, rate):
    crossings = sum(1 for a, b in zip(left, left[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(left) / rate)


def loud_windows(left, rate, window=0.01):
    """The `window`-second pieces of `left` as loud as a sine of amplitude 0.5
    (media.write_tone's), with where each starts."""
    size = int(window * rate)
    for start in range(0, len(left) - size + 1, size):
        if level_dbfs(left[start:start + size]) >= -10.5:
            yield start, left[start:start + size]


def tone_frequency(left, rate):
    """A tone's frequency over its loud pieces only: a player starved on a busy machine
    puts a moment of silence into the sink, which is no fault of the capture."""
    crossings = seconds = 0
    for start, piece in loud_windows(left, rate):
        piece = left[start:start + len(piece) + 1]  # with the next sample: no crossing falls between pieces
        crossings += sum(1 for a, b in zip(piece, piece[1:]) if (a < 0) != (b < 0))
        seconds += (len(piece) - 1) / rate
    return crossings / 2 / seconds if seconds else 0.0


def tones(samples, rate, frequencies, window=0.01):
    """The stream's tones in order, as (nominal frequency, measured frequency,
    seconds), from windows of `window` seconds: each window as loud as a sine of
    amplitude 0.5 (media.write_tone's) counts for the one of `frequencies` it is
    nearest. Tones need not be apart in the stream: a server may deliver little or
    nothing while a sink is idle."""
    size = int(window * rate)
    found = []  # [tone, first frame, frame after the last window]
    for start, left in loud_windows(samples[0::2], rate, window):
        hz = frequency(left, rate)
        tone = min(frequencies, key=lambda f: abs(hz - f))
        if abs(hz - tone) > tone / 4:
            continue  # where one tone ends and the next begins
        if not found or found[-1][0] != tone:
            found.append([tone, start, 0])
        found[-1][2] = start + size
    return [(tone, tone_frequency(samples[2 * first:2 * end:2], rate), round((end - first) / rate, 3))
            for tone, first, end in found]
