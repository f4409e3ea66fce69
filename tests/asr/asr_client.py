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
    count = len(data) // 2
    return [v / 32768.0 for v in struct.unpack(f"<{count}h", data[: count * 2])]


def spoken_with_pauses(clips, pauses, noise=0.001, seed=1):
    """The clips (lists of samples) one after another, the i-th followed by a pause of
    pauses[i % len(pauses)] seconds, all over a low noise (RMS `noise`) as a quiet room
    gives: never digital silence. Returns the samples and each clip's (first, end) sample."""
    samples, spans = [], []
    for i, clip in enumerate(clips):
        spans.append((len(samples), len(samples) + len(clip)))
        samples += clip
        samples += [0.0] * int(pauses[i % len(pauses)] * RATE)
    noisy = random.Random(seed)
    return [s + noisy.gauss(0.0, noise) for s in samples], spans


def pcm(samples):
    return base64.b64encode(struct.pack(f"<{len(samples)}f", *samples)).decode()


class AsrServer:
    """A running server; `request` writes one line and reads its reply."""

    def __init__(self):
        self.proc = subprocess.Popen([binary("tevoli-apple-asr")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def send(self, pieces):
        self.proc.stdin.writelines(pieces)
        self.proc.stdin.flush()

    def request(self, **fields):
        self.send([json.dumps(fields).encode() + b"\n"])
        line = self.proc.stdout.readline()
        if not line:
            raise EOFError("the server closed its output")
        return json.loads(line)

    def feed_samples(self, samples, stream=None, start_ms=0, chunk_ms=1000, gap_ms=0, gap_every=1):
        """Feeds chunks of `chunk_ms` with their offsets, leaving `gap_ms` of the timeline
        out after every `gap_every` chunks. Returns the segments of all replies and the
        chunks' (start, end) times."""
        segments, chunks = [], []
        offset = start_ms
        step = chunk_ms * RATE // 1000
        for at in range(0, len(samples), step):
            chunk = samples[at:at + step]
            fields = dict(op="feed", pcm=pcm(chunk), offset_ms=offset)
            if stream is not None:
                fields["stream"] = stream
            reply = self.request(**fields)
            if not reply.get("ok"):
                raise AssertionError(f"feed failed: {reply}")
            segments += reply["segments"]
            chunks.append((offset, offset + len(chunk) * 1000 // RATE))
            offset += len(chunk) * 1000 // RATE
            if len(chunks) % gap_every == 0:
                offset += gap_ms
        return segments, chunks

    def close(self):
        """Ends the input; returns the exit status and what was left on stdout and stderr."""
        out, err = self.proc.communicate(timeout=60)
        return self.proc.returncode, out, err

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
