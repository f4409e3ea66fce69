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
import wave

import tevoli_harness


class SystemAudioCapture:
    def __init__(self, env, header_timeout=10, **popen):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([tevoli_harness.binary("tevoli-systemaudio")], env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, **popen)
        self.fd = self.proc.stdout.fileno()
        self.audio = bytearray()
        self.first_audio = None  # monotonic time of the first audio byte
        self.ended = False
        self.lock = threading.Lock()
        self.reading = threading.Event()
        self.reading.set()
        self.closing = threading.Event()
        self.header = self._read_header(header_timeout)
        self.header_time = time.monotonic()
        self.rate, self.channels = 0, 0
        if self.header.startswith(b"TEVOLI_AUDIO "):
            _, rate, channels = self.header.split()
            self.rate, self.channels = int(rate), int(channels)
        self.thread = threading.Thread(target=self._read_audio, daemon=True)
        self.thread.start()

    def _read_header(self, timeout):
        line = b""
        deadline = time.monotonic() + timeout
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                raise TimeoutError("no header line")
            byte = os.read(self.fd, 1)  # one at a time: nothing of the audio is taken
            if not byte:
                break
            line += byte
        return line

    def _read_audio(self):
        while not self.closing.is_set():
            if not self.reading.is_set():
                time.sleep(0.01)
                continue
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            data = os.read(self.fd, 1 << 16)
            with self.lock:
                if not data:
                    self.ended = True
                    return
                if self.first_audio is None:
                    self.first_audio = time.monotonic()
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
        tevoli_harness.wait_until(lambda: self.byte_count() >= want, timeout + seconds_after_first,
                                  what="audio")

    def finish(self, sig=None, timeout=10):
        """Stops the program (with `sig`, or waits for it to end); returns
        (status, stderr text); the stream is read to its end."""
        if sig is not None:
            self.proc.send_signal(sig)
        status = self.proc.wait(timeout)
        self.resume()
        self.thread.join(timeout)
        err = self.proc.stderr.read().decode()
        if not self.proc.stdout.closed:
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
    if not samples:
        return -math.inf
    rms = math.sqrt(sum(s * s for s in samples) / len(samples))
    return 20 * math.log10(rms) if rms > 0 else -math.inf


def frequency(left, rate):
    crossings = sum(1 for a, b in zip(left, left[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(left) / rate)


def tones(samples, rate, frequencies, window=0.01):
    """The stream's tones in order, as (nominal frequency, measured frequency,
    seconds), from windows of `window` seconds: each window as loud as a sine of
    amplitude 0.5 (media.write_tone's) counts for the one of `frequencies` it is
    nearest. Tones need not be apart in the stream: a server may deliver little or
    nothing while a sink is idle."""
    size = int(window * rate)
    found = []  # [tone, first frame, frame after the last window, windows]
    for start in range(0, len(samples) // 2 - size, size):
        left = samples[2 * start:2 * (start + size):2]
        if level_dbfs(left) < -10.5:
            continue  # quiet, or mostly so
        hz = frequency(left, rate)
        tone = min(frequencies, key=lambda f: abs(hz - f))
        if abs(hz - tone) > tone / 4:
            continue  # where one tone ends and the next begins
        if not found or found[-1][0] != tone:
            found.append([tone, start, 0, 0])
        found[-1][2:] = start + size, found[-1][3] + 1
    return [(tone, frequency(samples[2 * first:2 * end:2], rate), round(count * window, 3))
            for tone, first, end, count in found]


def write_wav16(path, samples, rate, channels):
    """Float samples as a 16-bit PCM WAV (clamped)."""
    ints = array.array("h", (max(-32768, min(32767, round(s * 32767))) for s in samples))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(ints.tobytes())
