#!/usr/bin/env python3
"""Long meetings: the long-running programs driven as the host drives them for as long
as a meeting lasts, against the private services of tests/harness, with figures at
regular points and checks that nothing grows, drifts or goes missing.

    bench/soak.py --long                 # 60 min of speech per stream, 30 min of capture,
                                         # 5,000 shots, a 3-hour video (about an hour)
    bench/soak.py --short                # a few minutes; the tests run it
    bench/soak.py --long --only asr --asr-minutes 10     # one part, a length of its own

Goals: resident memory at the end within 10 % (or 5 MB, whichever is larger) of its value
after the first 10 minutes; no segment, mark, snapshot or frame lost; every transcript
segment where the looped audio placed it, within 100 ms. The short mode reports, and
does not check, what depends on the machine's speed and load or needs a long run to mean
anything: times, CPU, memory, the capture's drift, how fresh the window snapshots are.
Exit status 1 when a checked goal is missed.
"""
import argparse
import array
import base64
import bisect
import collections
import itertools
import math
import os
import random
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", name) for name in ("harness", "asr", "window", "frames")]

import tevoli_harness  # noqa: E402
from asr_client import AsrServer, read_wav_16k_mono  # noqa: E402
from frames_media import CODE_SIZE, coded_video, shown_times  # noqa: E402
from media import synthesize_speech  # noqa: E402
from window_clients import WindowClients  # noqa: E402

MB = 1 << 20


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_until_idle(pid, timeout=1800):
    """Waits until the process has stopped using the CPU (work it had queued is done);
    returns the seconds waited."""
    started = time.monotonic()
    last = cpu_seconds(pid)
    while time.monotonic() - started < timeout:
        time.sleep(1)
        now = cpu_seconds(pid)
        if now - last < 0.03:
            break
        last = now
    return time.monotonic() - started


class Goals:
    """Every goal of the run: met, missed, or only reported."""

    def __init__(self):
        self.rows = []

    def check(self, part, text, met, checked=True):
        self.rows.append((part, text, met, checked))

    def memory(self, part, end, baseline, since, checked):
        limit = max(0.1 * baseline, 5.0)
        self.check(part, f"{end:.1f} MB resident, at most {limit:.1f} MB above the {baseline:.1f} MB {since}",
                   end - baseline <= limit, checked)

    def report(self):
        print("\nGoals")
        for part, text, met, checked in self.rows:
            verdict = ("met" if met else "MISSED") if checked else ("(reported) " + ("met" if met else "not met"))
            print(f"  {part:12} {verdict:20} {text}")
        return all(met for _, _, met, checked in self.rows if checked)


def table(title, columns):
    """Prints a title and column heads; returns a function printing one row at once."""
    print(f"\n{title}")
    print("  " + " ".join(f"{name:>{width}}" for name, width in columns), flush=True)

    def row(*values):
        print("  " + " ".join(f"{value:>{width}}" for value, (_, width) in zip(values, columns)), flush=True)
    return row


# ---------------------------------------------------------------- transcription

RATE = 16000
CHUNK = 2 * RATE  # 2 s: every "feed" waits at least 300 ms, so small chunks would take hours
MIC_SENTENCES = [
    "good morning everyone thank you for joining",
    "let us move on to the next item on the agenda",
    "i will share my screen in a moment",
    "the sales numbers for march are better than we expected",
    "could you send the slides to the whole team",
    "we should decide this before the end of the week",
    "does anyone have a question about the plan",
    "thanks everyone see you next tuesday",
]
LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
PAUSES_MS = (1500, 2100, 1700, 2500, 1300)
NOISE = 0.0005  # a room's floor, about -66 dBFS: pauses are quiet, not digital zeros


class Placement:
    """One recording where one pass of the loop put it, and the segments that came back
    for it."""

    def __init__(self, start, end, item, k, words):
        self.start, self.end, self.item, self.k, self.words = start, end, item, k, words
        self.segments = []

    def offset(self):
        """Where its first segment starts, from where the recording starts."""
        return min(s["t0_ms"] for s in self.segments) - self.start


class SpeechLoop:
    """One stream's audio: recordings with pauses between them, looped for as long as
    the run lasts."""

    def __init__(self, recordings, seed):
        rng = random.Random(seed)
        samples = array.array("f")
        self.items = []  # (first sample, end sample, reference words) in one pass
        for n, (path, words) in enumerate(recordings):
            first = len(samples)
            samples.extend(read_wav_16k_mono(path))
            self.items.append((first, len(samples), words))
            samples.extend([0.0] * (PAUSES_MS[n % len(PAUSES_MS)] * RATE // 1000))
        for i in range(len(samples)):
            samples[i] += rng.gauss(0.0, NOISE)
        self.length = len(samples)
        self.pcm = samples.tobytes()

    def chunk(self, first, count):
        """Float32 bytes of samples [first, first + count) of the endless loop."""
        out = bytearray()
        while count > 0:
            at = first % self.length
            n = min(count, self.length - at)
            out += self.pcm[4 * at:4 * (at + n)]
            first, count = first + n, count - n
        return bytes(out)

    def placements(self, end_ms):
        """Every recording that starts before `end_ms`, pass after pass; the last may be cut short."""
        out = []
        for k in itertools.count():
            for i, (first, end, words) in enumerate(self.items):
                at = k * self.length
                if (at + first) / 16 >= end_ms:
                    return out
                out.append(Placement((at + first) / 16, (at + end) / 16, i, k, words))


def speech_loops(folder):
    sentences = []
    for i, text in enumerate(MIC_SENTENCES):
        path = os.path.join(folder, f"mic-{i}.wav")
        synthesize_speech(text, path)
        sentences.append((path, text.split()))
    clips = []
    with open(os.path.join(LIBRIVOX, "transcription")) as f:
        for line in f:
            name = line[line.index("(") + 1:line.index(")")]
            words = [w for w in line[:line.index("(")].split() if not w.startswith("<")]
            clips.append((os.path.join(LIBRIVOX, name + ".wav"), words))
    return {"mic": SpeechLoop(sentences, 1), "system": SpeechLoop(clips, 2)}


def words_recalled(placements):
    """Share of the words said that came back, each counted at most as often as said."""
    said = sum(len(p.words) for p in placements)
    heard = sum((collections.Counter(p.words) & collections.Counter(
        " ".join(s["text"] for s in p.segments).split())).total() for p in placements)
    return heard / max(said, 1)


TOLERANCE_MS = 100


class StreamFigures:
    """One stream's segments against its recordings up to `end_ms`: each segment belongs
    to the recording its middle lies in; a recording without one is lost. Where each
    recording's first segment starts is held against where it started in the first
    passes: a timeline that drifts moves every later pass away from it."""

    def __init__(self, loop, segments, end_ms):
        placements = loop.placements(end_ms)
        starts = [p.start for p in placements]
        self.stray, self.outside = [], []
        for seg in segments:
            middle = (seg["t0_ms"] + seg["t1_ms"]) / 2
            at = bisect.bisect_right(starts, middle + TOLERANCE_MS) - 1
            if at < 0 or middle > placements[at].end + TOLERANCE_MS:
                self.stray.append(seg)
                continue
            p = placements[at]
            p.segments.append(seg)
            if seg["t0_ms"] < p.start - TOLERANCE_MS or seg["t1_ms"] > p.end + TOLERANCE_MS:
                self.outside.append(seg)
        self.whole = whole = [p for p in placements if p.end <= end_ms]
        heard = [p for p in whole if p.segments]
        self.total, self.lost = len(whole), [p for p in whole if not p.segments]
        last = max((p.k for p in whole), default=0)
        self.recall = words_recalled(whole)
        self.early = words_recalled([p for p in whole if p.k < 3])
        self.late = words_recalled([p for p in whole if p.k > last - 3])
        first_passes = {}
        for p in heard:
            if p.k < 3:
                first_passes.setdefault(p.item, []).append(p.offset())
        usual = {item: statistics.median(offsets) for item, offsets in first_passes.items()}
        self.worst = max((abs(p.offset() - usual[p.item]) for p in heard), default=0.0)


def soak_asr(minutes, every_minutes, goals, long_checks):
    with tempfile.TemporaryDirectory(prefix="tevoli-soak-asr-") as folder:
        loops = speech_loops(folder)
    chunks = math.ceil(minutes * 60 * RATE / CHUNK)
    every = max(1, round(every_minutes * 60 * RATE / CHUNK))
    segments = {name: [] for name in loops}
    row = table(f"tevoli-apple-asr: two streams in {CHUNK // RATE} s chunks, {minutes:g} min of audio each (loops "
                f"of {loops['mic'].length / RATE:.1f} s and {loops['system'].length / RATE:.1f} s); CPU after the "
                f"model loaded, and per second of each stream",
                [("audio min", 9), ("wall min", 8), ("catch-up s", 10), ("RSS MB", 7), ("CPU s", 6), ("CPU/s", 6),
                 ("segments", 8), ("lost", 4), ("words %", 7), ("worst ms", 8)])
    points = []
    with AsrServer() as server:
        pid = server.pid
        for name in loops:
            server.request(op="begin", stream=name)
        started, loaded = time.monotonic(), cpu_seconds(pid)
        for c in range(1, chunks + 1):
            for name, loop in loops.items():
                reply = server.request(op="feed", stream=name, offset_ms=(c - 1) * CHUNK * 1000 // RATE,
                                       pcm=base64.b64encode(loop.chunk((c - 1) * CHUNK, CHUNK)).decode())
                if not reply.get("ok"):
                    raise RuntimeError(f"feed failed: {reply}")
                segments[name] += reply["segments"]
            if c % every and c < chunks:
                continue
            # Fed faster than real time, the recogniser lags: figures are read once it has
            # caught up, and segments judged up to the last one back.
            catch_up = wait_until_idle(pid)
            figures = [StreamFigures(loop, segments[name], max((s["t1_ms"] for s in segments[name]), default=0))
                       for name, loop in loops.items()]
            points.append(dict(minutes=c * CHUNK / RATE / 60, rss=rss_mb(pid)))
            cpu = cpu_seconds(pid) - loaded
            row(f"{points[-1]['minutes']:.1f}", f"{(time.monotonic() - started) / 60:.1f}", f"{catch_up:.0f}",
                f"{points[-1]['rss']:.1f}", f"{cpu:.0f}", f"{cpu / (2 * c * CHUNK / RATE):.3f}",
                sum(map(len, segments.values())), sum(len(f.lost) for f in figures),
                f"{100 * words_recalled([p for f in figures for p in f.whole]):.0f}",
                f"{max(f.worst for f in figures):.0f}")
        for name in loops:
            segments[name] += server.request(op="finish", stream=name)["segments"]
        status, out, err = server.close()
    goals.check("asr", f"exit status {status}, nothing left on stdout or stderr", (status, out, err) == (0, b"", b""))
    for name, loop in loops.items():
        f = StreamFigures(loop, segments[name], chunks * CHUNK * 1000 // RATE)
        goals.check("asr", f"{name}: {f.total - len(f.lost)} of {f.total} recordings have segments", not f.lost)
        for p in f.lost[:10]:
            print(f"  {name} lost: recording {p.item} of pass {p.k}, at {p.start:.0f} ms")
        goals.check("asr", f"{name}: {len(f.stray)} segments in pauses, {len(f.outside)} beyond their recording "
                           f"by more than {TOLERANCE_MS} ms", not f.stray and not f.outside)
        for seg in (f.stray + f.outside)[:10]:
            print(f"  {name} misplaced: {seg}")
        goals.check("asr", f"{name}: words recalled {100 * f.recall:.1f} % over the run, {100 * f.late:.1f} % in "
                           f"the last three passes against {100 * f.early:.1f} % in the first three (at most "
                           f"5 points less)", f.late >= f.early - 0.05)
        goals.check("asr", f"{name}: segment starts at most {TOLERANCE_MS} ms from where they were in the first "
                           f"passes (worst {f.worst:.0f} ms)", f.worst <= TOLERANCE_MS)
    memory_goal(goals, "asr", points, long_checks)


def memory_goal(goals, part, points, long_checks):
    """The last report point against the first one after the first 10 minutes; in a run
    too short for that, against the first point, reported only."""
    base = next((p for p in points[:-1] if p["minutes"] >= 10 - 1e-9), None)
    goals.memory(part, points[-1]["rss"], (base or points[0])["rss"],
                 f"after {round((base or points[0])['minutes'], 1):g} min", long_checks and base is not None)


# ---------------------------------------------------------------- system audio

TONE_HZ = 440.0
MARK_MS = 40            # a mark: the tone stops for this long
MARK_PERIOD_S = 5       # marks this far apart, the first at the start of the played loop
STALLS_S = (2, 4, 6)    # the reader stops reading this long, in turn


def marked_tone(rate, channels=2):
    """One period of the played sound as 16-bit PCM: a mark, then the tone."""
    frames = MARK_PERIOD_S * rate
    samples = array.array("h", bytes(2 * channels * frames))
    for i in range(MARK_MS * rate // 1000, frames):
        v = int(16384 * math.sin(2 * math.pi * TONE_HZ * i / rate))
        for c in range(channels):
            samples[channels * i + c] = v
    return samples.tobytes()


class MarkFinder:
    """Finds the marks in the captured stream as it comes, 32 frames at a time, and
    places each against the first: a mark lies a whole number of periods after it."""

    BLOCK = 32
    QUIET = 0.02

    def __init__(self, rate, channels):
        self.rate, self.channels = rate, channels
        self.period = MARK_PERIOD_S * rate
        self.frames = 0          # frames looked at
        self.carry = b""         # the bytes of a block not yet complete
        self.heard_tone = False  # silence before the first tone is no mark
        self.quiet_from = None
        self.marks, self.gaps = [], []

    def feed(self, data):
        data = self.carry + data
        step = 4 * self.channels * self.BLOCK
        whole = len(data) - len(data) % step
        self.carry = data[whole:]
        left = array.array("f", data[:whole])[::self.channels]
        for b in range(0, len(left), self.BLOCK):
            block = left[b:b + self.BLOCK]
            if max(block) < self.QUIET and min(block) > -self.QUIET:
                if self.quiet_from is None:
                    self.quiet_from = self.frames + b
                continue
            if self.quiet_from is not None and self.heard_tone:
                length = self.frames + b - self.quiet_from
                if length > 2 * MARK_MS * self.rate // 1000:
                    self.gaps.append((self.quiet_from, length))
                else:
                    self.marks.append(self.quiet_from)
            self.quiet_from = None
            self.heard_tone = True
        self.frames += len(left)

    def assess(self):
        """(expected, found, misplaced): marks against where the first one puts them,
        within 2 ms (a lost fragment of the stream moves every later mark by 15 ms)."""
        if not self.marks:
            return max(1, self.frames // self.period), 0, []
        first, found, misplaced = self.marks[0], set(), []
        for mark in self.marks:
            n = round((mark - first) / self.period)
            if abs(mark - first - n * self.period) > 2 * self.rate // 1000 or n in found:
                misplaced.append(mark)
            else:
                found.add(n)
        expected = (self.frames - first - MARK_MS * self.rate // 1000) // self.period + 1
        return expected, len(found), misplaced


class Player:
    """Plays the marked tone into the private sink for as long as it runs."""

    def __init__(self, pulse):
        period = marked_tone(pulse.rate)
        # Two seconds of buffer in the server, so a busy machine never starves the sink.
        self.proc = tevoli_harness.spawn(
            ["pacat", "--playback", f"--device={pulse.SINK}", "--format=s16le", f"--rate={pulse.rate}",
             "--channels=2", "--latency-msec=2000"], env=pulse.env, stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.playing = threading.Event()
        self.playing.set()

        def feed():
            try:
                while self.playing.is_set():
                    self.proc.stdin.write(period)
            except (BrokenPipeError, ValueError):
                pass
        self.thread = threading.Thread(target=feed, daemon=True)
        self.thread.start()

    def stop(self):
        self.playing.clear()
        tevoli_harness.stop(self.proc)
        self.thread.join(10)


class CaptureReader:
    """Reads tevoli-systemaudio's stream as the host does: the header line, then audio,
    counted and searched for marks as it comes."""

    def __init__(self, proc, timeout=10):
        self.fd = proc.stdout.fileno()
        header = b""
        while not header.endswith(b"\n") and select.select([self.fd], [], [], timeout)[0]:
            byte = os.read(self.fd, 1)  # a byte at a time: nothing of the audio is taken
            if not byte:
                break
            header += byte
        _, rate, channels = header.split()
        self.rate, self.channels = int(rate), int(channels)
        self.marks = MarkFinder(self.rate, self.channels)
        self.received, self.first_byte, self.ended = 0, None, False
        tevoli_harness.wait_until(lambda: self.read(0.1) or self.first_byte, 15, 0, what="the first audio")

    def read(self, timeout):
        """Takes what the program has written, waiting up to `timeout`; False when nothing came."""
        if self.ended or not select.select([self.fd], [], [], timeout)[0]:
            return False
        data = os.read(self.fd, 1 << 16)
        self.ended = not data
        self.first_byte = self.first_byte or time.monotonic()
        self.received += len(data)
        self.marks.feed(data)
        return bool(data)

    def elapsed(self):
        return time.monotonic() - self.first_byte

    def drift_ms(self):
        """Audio received against time since the first byte: behind the clock is negative."""
        return (self.received / (4 * self.channels * self.rate) - self.elapsed()) * 1000


class ServerClockReader:
    """parec on the same monitor, read without stalls: its bytes against its own time since
    the first byte show how far the sound server's clock runs from the wall clock."""

    def __init__(self, pulse, rate, channels):
        self.proc = tevoli_harness.spawn(
            ["parec", f"--device={pulse.SINK}.monitor", "--format=float32le", f"--rate={rate}",
             f"--channels={channels}"], env=pulse.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.bytes_per_second = 4 * channels * rate
        self.received, self.first_byte = 0, None
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while data := self.proc.stdout.read1(1 << 16):
            self.first_byte = self.first_byte or time.monotonic()
            self.received += len(data)

    def drift_ms(self):
        if not self.first_byte:
            return float("nan")
        return (self.received / self.bytes_per_second - (time.monotonic() - self.first_byte)) * 1000

    def stop(self):
        tevoli_harness.stop(self.proc)
        self.thread.join(10)


def soak_systemaudio(minutes, every_minutes, stall_every_s, goals, long_checks):
    end, every = minutes * 60, every_minutes * 60
    with tevoli_harness.PrivatePulse() as pulse:
        player = Player(pulse)
        time.sleep(1)
        proc = tevoli_harness.spawn([tevoli_harness.binary("tevoli-systemaudio")], env=pulse.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        server_clock = None
        try:
            reader = CaptureReader(proc)
            server_clock = ServerClockReader(pulse, reader.rate, reader.channels)
            row = table(f"tevoli-systemaudio: {minutes:g} min of a {TONE_HZ:g} Hz tone marked every {MARK_PERIOD_S} "
                        f"s ({reader.rate} Hz, {reader.channels} ch), the reader stalling every {stall_every_s:g} s "
                        f"for {', '.join(map(str, STALLS_S))} s in turn",
                        [("min", 5), ("MB", 5), ("drift ms", 8), ("parec ms", 8), ("RSS MB", 7), ("stalled MB", 10), ("CPU s", 6),
                         ("marks", 5), ("lost", 4), ("misplaced", 9), ("gaps", 4)])
            points, stalls, stalled_rss, before_stalls = [], 0, 0.0, None
            # Stalls fall halfway between report points: a point finds a reader that has caught up.
            next_point, next_stall = every, stall_every_s / 2
            while not reader.ended:
                if reader.elapsed() >= next_stall and next_stall < end:
                    before_stalls = before_stalls or rss_mb(proc.pid)
                    time.sleep(STALLS_S[stalls % len(STALLS_S)])
                    stalled_rss = max(stalled_rss, rss_mb(proc.pid))
                    stalls += 1
                    next_stall += stall_every_s
                elif reader.elapsed() >= min(next_point, end):
                    while reader.read(0):
                        pass
                    expected, found, misplaced = reader.marks.assess()
                    points.append(dict(minutes=reader.elapsed() / 60, rss=rss_mb(proc.pid), drift=reader.drift_ms(),
                                       server=server_clock.drift_ms()))
                    row(f"{points[-1]['minutes']:.1f}", f"{reader.received / MB:.0f}", f"{points[-1]['drift']:.0f}",
                        f"{points[-1]['server']:.0f}",
                        f"{points[-1]['rss']:.1f}", f"{stalled_rss:.1f}", f"{cpu_seconds(proc.pid):.1f}", found,
                        expected - found, len(misplaced), len(reader.marks.gaps))
                    stalled_rss = 0.0
                    if next_point >= end:
                        break
                    next_point += every
                else:
                    reader.read(0.05)
            ran = reader.elapsed()
            proc.send_signal(signal.SIGTERM)
            while reader.read(5):
                pass
            status = proc.wait(10)
            err = proc.stderr.read().decode()
        finally:
            tevoli_harness.stop(proc)
            if server_clock:
                server_clock.stop()
            player.stop()
    expected, found, misplaced = reader.marks.assess()
    goals.check("systemaudio", f"streamed for {ran / 60:.1f} min, then exit status {status} at SIGTERM, "
                               f"standard error {err.strip()!r}", ran >= end and status == 0
                and err == f"tevoli-systemaudio: capturing {reader.rate} Hz, {reader.channels} ch\n")
    goals.check("systemaudio", f"{found} of {expected} marks at their place (within 2 ms), "
                               f"{len(misplaced)} elsewhere, {len(reader.marks.gaps)} silences that were not played",
                found == expected and not misplaced and not reader.marks.gaps)
    # Bytes ahead of the clock are the sound server's own clock running fast, which parec
    # shows as well; bytes behind it are audio the program held back or lost.
    beyond = [p["drift"] - p["server"] for p in points]
    goals.check("systemaudio", f"bytes against time since the first byte, beyond parec's on the same monitor: "
                               f"from {min(beyond):+.0f} to {max(beyond):+.0f} ms, within 50 ms",
                all(abs(b) <= 50 for b in beyond), long_checks)
    memory_goal(goals, "systemaudio", points, long_checks)
    if before_stalls:
        goals.memory("systemaudio", points[-1]["rss"], before_stalls, "before the first stall", long_checks)


# ---------------------------------------------------------------- window snapshots

PALETTE = ["dd2211", "11cc22", "2233ee", "eecc11", "cc22cc", "11cccc", "ee8800", "8844ee"]
RECOLOUR_S = 0.25
STALE_S = 1.0  # frames are taken twice a second: a snapshot may show the colour of a moment ago


def jpeg_size(data):
    """(width, height) of a complete baseline or progressive JPEG, else None."""
    if not (data.startswith(b"\xff\xd8") and data.endswith(b"\xff\xd9")):
        return None
    at = 2
    while at + 9 < len(data) and data[at] == 0xFF:
        marker, length = data[at + 1], int.from_bytes(data[at + 2:at + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return int.from_bytes(data[at + 7:at + 9], "big"), int.from_bytes(data[at + 5:at + 7], "big")
        at += 2 + length
    return None


def mean_colours(paths):
    """Each image's mean colour as (r, g, b), from one ImageMagick run."""
    if not paths:
        return []
    rgb = subprocess.run(["convert", *paths, "-scale", "1x1!", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    return [tuple(rgb[i:i + 3]) for i in range(0, len(rgb), 3)]


def palette_index(colour):
    for n, hex_colour in enumerate(PALETTE):
        if all(abs(a - b) <= 12 for a, b in zip(colour, bytes.fromhex(hex_colour))):
            return n
    return None


class Recolouring:
    """Changes the test window's colour through the palette every RECOLOUR_S seconds and
    remembers when each colour may have been on screen."""

    def __init__(self, clients, proc):
        self.shown = [(0.0, 0)]  # (sent, colour): colour n could show from its sending on
        self.stop = threading.Event()

        def run():
            n = 0
            while not self.stop.wait(RECOLOUR_S):
                n += 1
                sent = time.monotonic()
                clients.command(proc, "color " + PALETTE[n % len(PALETTE)])
                self.shown.append((sent, n % len(PALETTE)))
        self.thread = threading.Thread(target=run, daemon=True)
        self.thread.start()

    def possible(self, since, until):
        """The colours that may have been on screen at some moment between the two times."""
        shown = list(self.shown)
        out = set()
        for i, (sent, colour) in enumerate(shown):
            gone = shown[i + 1][0] if i + 1 < len(shown) else math.inf
            if sent <= until and gone + 0.05 >= since:  # a repaint lands up to its "ok"
                out.add(colour)
        return out

    def close(self):
        self.stop.set()
        self.thread.join(10)


def judge_shots(batch, recolouring):
    """(lost, bad, stale) among (path, sent, replied, reply) shots: lost without "ok" and
    a file, bad unless a 320x240 JPEG of one of the window's colours, stale when that
    colour had left the screen more than STALE_S before the shoot."""
    done = [(path, sent, replied) for path, sent, replied, reply in batch if reply == b"ok\n" and os.path.exists(path)]
    valid = []
    for shot in done:
        with open(shot[0], "rb") as f:
            if jpeg_size(f.read()) == (320, 240):
                valid.append(shot)
    colours = [palette_index(c) for c in mean_colours([path for path, _, _ in valid])]
    stale = sum(n is not None and n not in recolouring.possible(sent - STALE_S, replied)
                for (_, sent, replied), n in zip(valid, colours))
    return len(batch) - len(done), len(done) - len(valid) + colours.count(None), stale


def soak_window(shots, every, goals, long_checks):
    with tevoli_harness.PrivateX() as x, tempfile.TemporaryDirectory(prefix="tevoli-soak-window-") as tmp:
        clients = WindowClients(x.env)
        try:
            proc, window = clients.open("zoom", "--size", "160x120", "--color", PALETTE[0])
            watch = tevoli_harness.spawn([tevoli_harness.binary("tevoli-window"), "--watch", str(window)],
                                         env=x.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE)
            recolouring = Recolouring(clients, proc)
            row = table(f"tevoli-window --watch: {shots} shoots of a 160x120 window changing colour every "
                        f"{RECOLOUR_S} s, as fast as answered",
                        [("shots", 6), ("wall s", 7), ("RSS MB", 7), ("CPU s", 6), ("reply ms", 8), ("lost", 4),
                         ("bad", 4), ("stale", 5)])
            points, totals, waited = [], [0, 0, 0], 0.0
            try:
                if watch.stdout.readline() != b"READY\n":
                    raise RuntimeError("watch mode did not start")
                started = time.monotonic()
                for first in range(0, shots, every):
                    batch = []
                    for i in range(first, min(first + every, shots)):
                        path = os.path.join(tmp, f"shot-{i}.jpg")
                        sent = time.monotonic()
                        watch.stdin.write(f"shoot {path}\n".encode())
                        watch.stdin.flush()
                        reply = watch.stdout.readline()
                        batch.append((path, sent, time.monotonic(), reply))
                    waited += sum(replied - sent for _, sent, replied, _ in batch)
                    totals = [t + n for t, n in zip(totals, judge_shots(batch, recolouring))]
                    for path, *_ in batch:
                        if os.path.exists(path):
                            os.remove(path)
                    points.append(rss_mb(watch.pid))
                    row(first + len(batch), f"{time.monotonic() - started:.1f}", f"{points[-1]:.1f}",
                        f"{cpu_seconds(watch.pid):.1f}", f"{1000 * waited / (first + len(batch)):.1f}", *totals)
                watch.stdin.write(b"quit\n")
                watch.stdin.flush()
                status = watch.wait(10)
                err = watch.stderr.read()
            finally:
                recolouring.close()
                tevoli_harness.stop(watch)
        finally:
            clients.close_all()
    lost, bad, stale = totals
    goals.check("window", f"exit status {status}, standard error {err!r}", (status, err) == (0, b""))
    goals.check("window", f"{shots - lost} of {shots} shoots answered ok with a file", lost == 0)
    goals.check("window", f"{bad} snapshots not a 320x240 JPEG of one of the window's colours", bad == 0)
    goals.check("window", f"{stale} snapshots showing a colour gone more than {STALE_S:g} s before the shoot",
                stale == 0, long_checks)
    goals.memory("window", points[-1], points[0], f"after {every} shots", long_checks)


# ---------------------------------------------------------------- frames extract

VIDEO_FPS, KEYFRAME_S, INTERVAL_S = 2, 10, 15
CODE_WRAP_S = (1 << 20) / 100  # the frames' time code: centiseconds in 20 bits, so 2 h 54 min and again


def soak_frames(hours, goals, long_checks):
    row = table(f"tevoli-frames extract, interval {INTERVAL_S} s, {CODE_SIZE} H.264 at {VIDEO_FPS} fps with a "
                f"keyframe every {KEYFRAME_S} s, each frame showing its time",
                [("video", 7), ("frames", 6), ("wall s", 7), ("CPU s", 6), ("peak MB", 7), ("lost", 4),
                 ("far", 4)])
    runs = []
    with tempfile.TemporaryDirectory(prefix="tevoli-soak-frames-") as tmp:
        for seconds in (600, round(hours * 3600)):
            video, outdir = os.path.join(tmp, f"{seconds}.mp4"), os.path.join(tmp, str(seconds))
            coded_video(video, VIDEO_FPS, seconds, "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                        "-g", str(KEYFRAME_S * VIDEO_FPS))
            run = run_measured([tevoli_harness.binary("tevoli-frames"), "extract", video, outdir, str(INTERVAL_S)])
            os.remove(video)
            names = {f"frame-{t * 1000}.jpg" for t in range(0, seconds, INTERVAL_S)[:720]}
            shown = shown_times(outdir)
            present = names & shown.keys()
            far = [name for name in present if shown[name] is None or abs(
                (shown[name] - int(name[6:-4]) / 1000 + CODE_WRAP_S / 2) % CODE_WRAP_S - CODE_WRAP_S / 2) > 1]
            run.update(seconds=seconds, expected=len(names), lost=len(names) - len(present), far=far,
                       extra=len(shown) - len(present))
            runs.append(run)
            row(f"{seconds / 3600:g} h" if seconds >= 3600 else f"{seconds // 60} min", len(present),
                f"{run['wall']:.2f}", f"{run['cpu']:.2f}", f"{run['peak']:.1f}", run["lost"], len(far))
    ten, whole = runs
    print(f"  {hours:g}-hour against 10-minute: {whole['wall'] / ten['wall']:.1f}x the time, "
          f"{whole['peak'] / ten['peak']:.2f}x the peak memory, {whole['expected'] / ten['expected']:.0f}x the frames")
    for run in runs:
        goals.check("frames", f"{run['seconds'] // 60} min: status {run['status']}, {run['out']!r}, every one of "
                              f"{run['expected']} times has its file ({run['lost']} lost, {run['extra']} other files), "
                              f"{len(run['far'])} more than 1 s from their time",
                    run["status"] == 0 and run["out"] == f"OK {run['expected']}\n".encode() and not run["lost"]
                    and not run["extra"] and not run["far"])
    goals.memory("frames", whole["peak"], ten["peak"], "peak of the 10-minute video", long_checks)


def run_measured(cmd):
    """Runs a command; its status, stdout, wall and CPU seconds and peak RSS (MB)."""
    started = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    proc.stdout.close()
    return dict(status=proc.returncode, out=out, wall=time.monotonic() - started,
                cpu=usage.ru_utime + usage.ru_stime, peak=usage.ru_maxrss / 1024)


# ---------------------------------------------------------------- the run

# Lengths of the two modes: minutes of audio per transcription stream, minutes of capture,
# shoots, hours of video; and how often each part reports.
LENGTHS = {
    "long": dict(asr_minutes=60, asr_every=10, capture_minutes=30, capture_every=5, stall_every=60,
                 shots=5000, shots_every=500, video_hours=3),
    "short": dict(asr_minutes=2, asr_every=0.5, capture_minutes=1, capture_every=0.25, stall_every=15,
                  shots=500, shots_every=100, video_hours=1),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    length = parser.add_mutually_exclusive_group(required=True)
    length.add_argument("--long", action="store_true")
    length.add_argument("--short", action="store_true")
    parser.add_argument("--only", default="asr,systemaudio,window,frames",
                        help="comma-separated parts to run")
    for name in LENGTHS["long"]:
        parser.add_argument("--" + name.replace("_", "-"), type=float)
    parser.add_argument("bin", nargs="?", help="folder of the built programs (build/bin)")
    args = parser.parse_args()
    if args.bin:
        os.environ["TEVOLI_BIN_DIR"] = os.path.abspath(args.bin)
    os.environ.setdefault("TEVOLI_BIN_DIR", os.path.join(ROOT, "build", "bin"))
    n = dict(LENGTHS["long" if args.long else "short"])
    n.update({k: v for k, v in vars(args).items() if k in n and v is not None})
    goals = Goals()
    parts = args.only.split(",")
    if "asr" in parts:
        soak_asr(n["asr_minutes"], n["asr_every"], goals, args.long)
    if "systemaudio" in parts:
        soak_systemaudio(n["capture_minutes"], n["capture_every"], n["stall_every"], goals, args.long)
    if "window" in parts:
        soak_window(int(n["shots"]), int(n["shots_every"]), goals, args.long)
    if "frames" in parts:
        soak_frames(n["video_hours"], goals, args.long)
    sys.exit(0 if goals.report() else 1)


if __name__ == "__main__":
    main()
