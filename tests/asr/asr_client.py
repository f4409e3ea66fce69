"""Drives the transcription server through its pipes, as the host does."""
import base64
import json
import random
import struct
import subprocess
import wave

from tevoli_harness import binary

RATE = 16000


def read_wav_16k_mono(path):
    """A 16 kHz mono 16-bit WAV file as float samples in [-1, 1)."""
    with wave.open(path, "rb") as w:
        if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (RATE, 1, 2):
            raise ValueError(f"{path} is not 16 kHz mono 16-bit")
        data = w.readframes(w.getnframes())
    return [v / 32768.0 for v in struct.unpack(f"<{len(data) // 2}h", data)]


def spoken_with_pauses(clips, pauses, noise=0.001, seed=1):
    """The clips one after another, the i-th followed by pauses[i % len(pauses)] seconds, over
    a quiet room's noise (RMS `noise`). Returns the samples and each clip's (first, end) sample."""
    samples, spans = [], []
    for i, clip in enumerate(clips):
        spans.append((len(samples), len(samples) + len(clip)))
        samples += clip + [0.0] * int(pauses[i % len(pauses)] * RATE)
    noisy = random.Random(seed)
    return [s + noisy.gauss(0.0, noise) for s in samples], spans


def pcm(samples):
    return base64.b64encode(struct.pack(f"<{len(samples)}f", *samples)).decode()


class AsrServer(subprocess.Popen):
    """A running server; `request` writes one line and reads its reply. Leaving its context
    closes its input, which ends it."""

    def __init__(self):
        super().__init__([binary("tevoli-apple-asr")], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)

    def send(self, pieces):
        self.stdin.writelines(pieces)
        self.stdin.flush()

    def request(self, **fields):
        self.send([json.dumps(fields).encode() + b"\n"])
        line = self.stdout.readline()
        if not line:
            raise EOFError("the server closed its output")
        return json.loads(line)

    def close(self):
        out, err = self.communicate(timeout=60)
        return self.returncode, out, err
