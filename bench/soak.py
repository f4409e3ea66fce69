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
sys.path[:0] = [os.path.join(ROOT, "tests", name) for name in ("harness", "asr", "window")]

import tevoli_harness  # noqa: E402
from asr_client import AsrServer, read_wav_16k_mono  # noqa: E402
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
    "the meeting will start at ten in the morning",
    "please send me the report before friday",
    "we need to discuss the budget for next year",
    "the new office is close to the train station",
    "she said that the project was almost finished",
    "can you call me back after lunch",
    "let us move on to the next item on the agenda",
    "i will share my screen in a moment",
]
LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
PAUSES_MS = (1500, 2100, 1700, 2500, 1300)
NOISE = 0.0005  # a room's floor, about -66 dBFS: pauses are quiet, not digital zeros


class SpeechLoop:
    """One stream's audio: recordings with pauses between them, looped for as long as
    the run lasts; `placements` say where each recording lies in one pass."""

    def __init__(self, recordings, seed):
        rng = random.Random(seed)
        samples = array.array("f")
        self.placements = []  # (first sample, end sample, reference words)
        for n, (path, words) in enumerate(recordings):
            first = len(samples)
            samples.extend(read_wav_16k_mono(path))
            self.placements.append((first, len(samples), words))
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

    def spans(self, end_sample):
        """(start ms, end ms, item, pass, words) of every recording that started before
        `end_sample`; the last one may be cut short."""
        out = []
        for k in range(end_sample // self.length + 1):
            for i, (a, b, words) in enumerate(self.placements):
                if k * self.length + a >= end_sample:
                    return out
                out.append(((k * self.length + a) / 16, (k * self.length + b) / 16, i, k, words))
        return out


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


def recall(reference, heard):
    pool = list(heard)
    found = 0
    for word in reference:
        if word in pool:
            pool.remove(word)
            found += 1
    return found / len(reference)


def words_recalled(placements):
    said = sum(len(p.words) for p in placements)
    return sum(recall(p.words, " ".join(s["text"] for s in p.segments).split()) * len(p.words)
               for p in placements) / max(said, 1)


class Placement:
    def __init__(self, start, end, item, k, words):
        self.start, self.end, self.item, self.k, self.words = start, end, item, k, words
        self.segments = []

    def offset(self):
        """Where its first segment starts, from where the recording starts."""
        return min(s["t0_ms"] for s in self.segments) - self.start


TOLERANCE_MS = 100


def assess(loop, segments, end_sample):
    """Matches segments to the recordings fed before `end_sample`: a segment belongs to
    the recording its middle lies in (within the tolerance)."""
    placements = [Placement(*span) for span in loop.spans(end_sample)]
    starts = [p.start for p in placements]
    stray, outside = [], []
    for seg in segments:
        middle = (seg["t0_ms"] + seg["t1_ms"]) / 2
        at = bisect.bisect_right(starts, middle + TOLERANCE_MS) - 1
        if at < 0 or middle > placements[at].end + TOLERANCE_MS:
            stray.append(seg)
            continue
        p = placements[at]
        p.segments.append(seg)
        if seg["t0_ms"] < p.start - TOLERANCE_MS or seg["t1_ms"] > p.end + TOLERANCE_MS:
            outside.append(seg)
    return placements, stray, outside


class StreamFigures:
    """One stream's recordings up to `end_ms` summed up: found, words, and where each
    one's first segment starts against where it started in the first passes."""

    def __init__(self, loop, segments, end_ms):
        placements, self.stray, self.outside = assess(loop, segments, end_ms * 16)
        whole = [p for p in placements if p.end <= end_ms]
        heard = [p for p in whole if p.segments]
        self.total, self.found = len(whole), len(heard)
        self.lost = [p for p in whole if not p.segments]
        self.recall = words_recalled(whole)
        last = max((p.k for p in whole), default=0)
        self.early, self.late = words_recalled([p for p in whole if p.k < 3]), \
            words_recalled([p for p in whole if p.k > last - 3])
        # Each recording's usual place is where it came back in the first passes: a timeline
        # that drifts moves every later pass away from it.
        early = {}
        for p in heard:
            if p.k < 3:
                early.setdefault(p.item, []).append(p.offset())
        usual = {item: statistics.median(offsets) for item, offsets in early.items()}
        self.deviations = [(p.offset() - usual[p.item], p) for p in heard if p.item in usual]

    def worst(self, since_ms=None):
        devs = [abs(d) for d, p in self.deviations if since_ms is None or p.start >= since_ms]
        return max(devs, default=0.0)


def soak_asr(minutes, every_minutes, goals, long_checks):
    with tempfile.TemporaryDirectory(prefix="tevoli-soak-asr-") as folder:
        loops = speech_loops(folder)
    chunks = -(-int(minutes * 60 * RATE) // CHUNK)
    every = max(1, int(every_minutes * 60 * RATE) // CHUNK)
    segments = {name: [] for name in loops}
    row = table(f"tevoli-apple-asr: two streams in {CHUNK // RATE} s chunks, {minutes:g} min of audio each "
                f"(loops of {loops['mic'].length / RATE:.1f} s and {loops['system'].length / RATE:.1f} s)",
                [("audio min", 9), ("wall min", 8), ("catch-up s", 10), ("RSS MB", 7), ("CPU s", 7), ("CPU/audio s", 11),
                 ("segments", 8), ("lost", 4), ("words %", 7), ("worst ms", 8)])
    points = []
    with AsrServer() as server:
        pid = server.proc.pid
        for name in loops:
            assert server.request(op="begin", stream=name)["ok"]
        started, cpu_before = time.monotonic(), cpu_seconds(pid)
        for c in range(chunks):
            for name, loop in loops.items():
                reply = server.request(op="feed", stream=name, offset_ms=c * CHUNK * 1000 // RATE,
                                       pcm=base64.b64encode(loop.chunk(c * CHUNK, CHUNK)).decode())
                if not reply.get("ok"):
                    raise RuntimeError(f"feed failed: {reply}")
                segments[name] += reply["segments"]
            if (c + 1) % every == 0 or c + 1 == chunks:
                fed = (c + 1) * CHUNK
                # Fed faster than real time, the recogniser lags: memory is read once it has caught up.
                catch_up = wait_until_idle(pid)
                # Judged up to the last segment back: the recogniser may lag behind the feeding.
                figures = [StreamFigures(loop, segments[name], max((s["t1_ms"] for s in segments[name]), default=0))
                           for name, loop in loops.items()]
                point = dict(minutes=fed / RATE / 60, wall=(time.monotonic() - started) / 60, rss=rss_mb(pid),
                             cpu=cpu_seconds(pid) - cpu_before, catch_up=catch_up)
                points.append(point)
                row(f"{point['minutes']:.1f}", f"{point['wall']:.1f}", f"{catch_up:.0f}", f"{point['rss']:.1f}", f"{point['cpu']:.0f}",
                    f"{point['cpu'] / (2 * fed / RATE):.3f}", sum(len(s) for s in segments.values()),
                    sum(len(f.lost) for f in figures),
                    f"{100 * statistics.mean(f.recall for f in figures):.0f}",
                    f"{max(f.worst() for f in figures):.0f}")
        end_rss = rss_mb(pid)
        for name in loops:
            reply = server.request(op="finish", stream=name)
            segments[name] += reply["segments"]
        status, out, err = server.close()
    fed = chunks * CHUNK
    goals.check("asr", f"exit status {status}, nothing left on stdout or stderr", (status, out, err) == (0, b"", b""))
    for name, loop in loops.items():
        f = StreamFigures(loop, segments[name], fed * 1000 // RATE)
        last_pass = fed // loop.length - 1
        goals.check("asr", f"{name}: {f.found} of {f.total} recordings have segments", not f.lost)
        if f.lost:
            print(f"  {name} lost: " + ", ".join(f"item {p.item} pass {p.k} at {p.start:.0f} ms" for p in f.lost[:10]))
        goals.check("asr", f"{name}: {len(f.stray)} segments in pauses, {len(f.outside)} beyond their recording "
                           f"by more than {TOLERANCE_MS} ms", not f.stray and not f.outside)
        for seg in (f.stray + f.outside)[:5]:
            print(f"  {name} misplaced: {seg}")
        goals.check("asr", f"{name}: words recalled {100 * f.recall:.1f} % over the run, {100 * f.late:.1f} % in "
                           f"the last three passes against {100 * f.early:.1f} % in the first three (at most "
                           f"5 points less)", f.late >= f.early - 0.05)
        goals.check("asr", f"{name}: segment starts within {TOLERANCE_MS} ms of where they were in the first passes: "
                           f"worst {f.worst():.0f} ms over the run, {f.worst(last_pass * loop.length / 16):.0f} ms "
                           f"in the last pass", f.worst() <= TOLERANCE_MS)
    memory_goal(goals, "asr", points, end_rss, long_checks)


def memory_goal(goals, part, points, end_rss, long_checks, baseline_minutes=10):
    """The end against the first report point at or after the first 10 minutes (or the
    first point at all, reported only, in a shorter run)."""
    settled = [p for p in points if p["minutes"] >= baseline_minutes - 1e-9]
    base = settled[0] if settled and settled[0] is not points[-1] else points[0]
    goals.memory(part, end_rss, base["rss"], f"after {round(base['minutes'], 1):g} min", long_checks and base in settled)


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


def read_header(fd, timeout=10):
    line = b""
    deadline = time.monotonic() + timeout
    while not line.endswith(b"\n") and select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
        byte = os.read(fd, 1)  # a byte at a time: nothing of the audio is taken
        if not byte:
            break
        line += byte
    return line


def soak_systemaudio(minutes, every_minutes, stall_every_s, goals, long_checks):
    with tevoli_harness.PrivatePulse() as pulse:
        player = Player(pulse)
        time.sleep(1)
        proc = tevoli_harness.spawn([tevoli_harness.binary("tevoli-systemaudio")], env=pulse.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            fd = proc.stdout.fileno()
            header = read_header(fd)
            _, rate, channels = header.split()
            rate, channels = int(rate), int(channels)
            finder = MarkFinder(rate, channels)
            row = table(f"tevoli-systemaudio: {minutes:g} min of a {TONE_HZ:g} Hz tone marked every {MARK_PERIOD_S} s "
                        f"({rate} Hz, {channels} ch), the reader stalling every {stall_every_s} s",
                        [("min", 5), ("MB", 7), ("drift ms", 8), ("RSS MB", 7), ("stalled MB", 10), ("CPU s", 6),
                         ("marks", 5), ("lost", 4), ("misplaced", 9), ("gaps", 4)])
            received, first_byte, points, stalls, ended = 0, None, [], 0, False
            stalled_rss, before_stalls = 0.0, None
            # Stalls fall between report points, so a point reads a reader that has caught up.
            next_point, next_stall = every_minutes * 60, stall_every_s / 2

            def read(timeout):
                nonlocal received, first_byte, ended
                if ended or not select.select([fd], [], [], timeout)[0]:
                    return False
                data = os.read(fd, 1 << 16)
                if not data:
                    ended = True
                    return False
                first_byte = first_byte or time.monotonic()
                received += len(data)
                finder.feed(data)
                return True

            while not ended:
                if first_byte is None:
                    read(0.1)
                    continue
                elapsed = time.monotonic() - first_byte
                if elapsed >= next_stall and elapsed < minutes * 60:
                    before_stalls = before_stalls or rss_mb(proc.pid)
                    time.sleep(STALLS_S[stalls % len(STALLS_S)])
                    stalled_rss = max(stalled_rss, rss_mb(proc.pid))
                    stalls += 1
                    next_stall += stall_every_s
                elif elapsed >= next_point or elapsed >= minutes * 60:
                    while read(0):
                        pass
                    elapsed = time.monotonic() - first_byte
                    drift = (received / (4 * channels * rate) - elapsed) * 1000
                    expected, found, misplaced = finder.assess()
                    point = dict(minutes=elapsed / 60, rss=rss_mb(proc.pid), drift=drift)
                    points.append(point)
                    row(f"{elapsed / 60:.1f}", f"{received / MB:.0f}", f"{drift:.0f}", f"{point['rss']:.1f}",
                        f"{stalled_rss:.1f}", f"{cpu_seconds(proc.pid):.1f}", found, expected - found,
                        len(misplaced), len(finder.gaps))
                    stalled_rss = 0.0
                    next_point += every_minutes * 60
                    if elapsed >= minutes * 60:
                        break
                else:
                    read(0.05)
            ran = time.monotonic() - first_byte
            end_rss = points[-1]["rss"]
            proc.send_signal(signal.SIGTERM)
            while read(5):
                pass
            status = proc.wait(10)
            err = proc.stderr.read().decode()
        finally:
            tevoli_harness.stop(proc)
            player.stop()
    expected, found, misplaced = finder.assess()
    goals.check("systemaudio", f"streamed for {ran / 60:.1f} min, then exit status {status} at SIGTERM, "
                               f"standard error {err.strip()!r}", ran >= minutes * 60 and status == 0
                and err == f"tevoli-systemaudio: capturing {rate} Hz, {channels} ch\n")
    goals.check("systemaudio", f"{found} of {expected} marks at their place (within 2 ms), "
                               f"{len(misplaced)} elsewhere, {len(finder.gaps)} silences that were not played",
                found == expected and not misplaced and not finder.gaps)
    # Bytes ahead of the clock are the sound server's own clock running fast; bytes behind
    # it are audio the program held back or lost.
    behind, ahead = min(p["drift"] for p in points), max(p["drift"] for p in points)
    goals.check("systemaudio", f"bytes against time since the first byte: from {behind:.0f} to {ahead:+.0f} ms, "
                               f"never more than 100 ms behind", behind >= -100, long_checks)
    memory_goal(goals, "systemaudio", points, end_rss, long_checks)
    if before_stalls:
        goals.memory("systemaudio", end_rss, before_stalls, "before the first stall", long_checks)


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
            points, lost, bad, stale, worst_stale, waited = [], 0, 0, 0, 0.0, 0.0
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
                    waited += sum(r - s for _, s, r, _ in batch)
                    done = [(p, s, r) for p, s, r, reply in batch if reply == b"ok\n" and os.path.exists(p)]
                    lost += len(batch) - len(done)
                    valid = []
                    for path, sent, replied in done:
                        with open(path, "rb") as f:
                            if jpeg_size(f.read()) == (320, 240):
                                valid.append((path, sent, replied))
                    bad += len(done) - len(valid)
                    for (path, sent, replied), colour in zip(valid, mean_colours([v[0] for v in valid])):
                        n = palette_index(colour)
                        if n is None:
                            bad += 1
                        elif n not in recolouring.possible(sent - STALE_S, replied):
                            stale += 1
                            worst_stale = max(worst_stale, next(
                                (replied - t for t, c in reversed(recolouring.shown) if c == n), math.inf))
                    for path, *_ in batch:
                        if os.path.exists(path):
                            os.remove(path)
                    wall = time.monotonic() - started
                    done_shots = min(first + every, shots)
                    points.append(rss_mb(watch.pid))
                    row(done_shots, f"{wall:.1f}", f"{points[-1]:.1f}", f"{cpu_seconds(watch.pid):.1f}",
                        f"{1000 * waited / done_shots:.1f}", lost, bad, stale)
                watch.stdin.write(b"quit\n")
                watch.stdin.flush()
                status = watch.wait(10)
                err = watch.stderr.read()
            finally:
                recolouring.close()
                tevoli_harness.stop(watch)
        finally:
            clients.close_all()
    goals.check("window", f"exit status {status}, standard error {err!r}", (status, err) == (0, b""))
    goals.check("window", f"{shots - lost} of {shots} shoots answered ok with a file", lost == 0)
    goals.check("window", f"{bad} snapshots not a 320x240 JPEG of one of the window's colours", bad == 0)
    goals.check("window", f"{stale} snapshots showing a colour older than {STALE_S} s"
                          + (f" (worst {worst_stale:.1f} s)" if stale else ""), stale == 0, long_checks)
    goals.memory("window", points[-1], points[0], f"after {every} shots", long_checks)


# ---------------------------------------------------------------- frames extract

FRAME_SIZE, BITS, VIDEO_FPS, KEYFRAME_S, INTERVAL_S = (160, 90), 16, 2, 10, 15


def numbered_video(path, seconds):
    """A low-resolution H.264 video whose every frame shows its own number as 16 black
    and white bars, so an extracted JPEG tells which frame it is."""
    width, height = FRAME_SIZE
    ffmpeg = subprocess.Popen(
        ["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "gray", "-s", f"{width}x{height}",
         "-r", str(VIDEO_FPS), "-i", "-", "-c:v", "libx264", "-preset", "veryfast", "-g", str(KEYFRAME_S * VIDEO_FPS),
         "-pix_fmt", "yuv420p", "-threads", "1", path], stdin=subprocess.PIPE)
    for n in range(int(seconds * VIDEO_FPS)):
        row = b"".join((b"\xeb" if n >> (BITS - 1 - b) & 1 else b"\x10") * (width // BITS) for b in range(BITS))
        ffmpeg.stdin.write(row * height)
    ffmpeg.stdin.close()
    if ffmpeg.wait() != 0:
        raise RuntimeError("ffmpeg could not make the video")


def frame_numbers(paths):
    """The number each extracted frame shows, read across its middle row."""
    width, height = FRAME_SIZE
    gray = subprocess.run(["convert", *paths, "-crop", f"{width}x1+0+{height // 2}", "+repage", "-depth", "8",
                           "gray:-"], check=True, capture_output=True).stdout
    bar = width // BITS
    return [sum(1 << (BITS - 1 - b) for b in range(BITS) if gray[i + b * bar + bar // 2] > 128)
            for i in range(0, len(gray), width)]


def soak_frames(hours, goals, long_checks):
    row = table(f"tevoli-frames extract, interval {INTERVAL_S} s, {FRAME_SIZE[0]}x{FRAME_SIZE[1]} H.264 at "
                f"{VIDEO_FPS} fps with a keyframe every {KEYFRAME_S} s",
                [("video", 7), ("frames", 6), ("wall s", 7), ("CPU s", 6), ("peak MB", 7), ("lost", 4),
                 ("far", 4)])
    runs = []
    with tempfile.TemporaryDirectory(prefix="tevoli-soak-frames-") as tmp:
        for minutes in (10, hours * 60):
            video = os.path.join(tmp, f"{minutes:g}min.mp4")
            numbered_video(video, minutes * 60)
            outdir = os.path.join(tmp, f"{minutes:g}min")
            run = run_measured([tevoli_harness.binary("tevoli-frames"), "extract", video, outdir, str(INTERVAL_S)])
            times = [n * INTERVAL_S for n in range(min(720, -(-minutes * 60 // INTERVAL_S)))]
            names = {f"frame-{t * 1000}.jpg" for t in times}
            present = sorted(names & set(os.listdir(outdir)))
            numbers = frame_numbers([os.path.join(outdir, n) for n in present])
            far = [(n, f) for n, f in zip(present, numbers)
                   if abs(f / VIDEO_FPS - int(n[6:-4]) / 1000) > 1.0]
            run.update(minutes=minutes, expected=len(times), lost=len(names) - len(present), far=far,
                       extra=len(os.listdir(outdir)) - len(present))
            runs.append(run)
            row(f"{minutes / 60:g} h" if minutes >= 60 else f"{minutes:g} min", len(present), f"{run['wall']:.2f}",
                f"{run['cpu']:.2f}", f"{run['peak']:.1f}", run["lost"], len(far))
            os.remove(video)
    short, long_ = runs
    print(f"  {hours:g}-hour against 10-minute: {long_['wall'] / short['wall']:.1f}x the time, "
          f"{long_['peak'] / short['peak']:.2f}x the peak memory for {long_['expected'] / short['expected']:.0f}x the frames")
    for run in runs:
        goals.check("frames", f"{run['minutes']:g} min: status {run['status']}, {run['out']!r}, every one of "
                              f"{run['expected']} times has its file ({run['lost']} lost, {run['extra']} other files), "
                              f"{len(run['far'])} more than 1 s from their time",
                    run["status"] == 0 and run["out"] == f"OK {run['expected']}\n".encode() and not run["lost"]
                    and not run["extra"] and not run["far"])
    goals.memory("frames", long_["peak"], short["peak"], "peak of the 10-minute video", long_checks)


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
