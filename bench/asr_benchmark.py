#!/usr/bin/env python3
"""tevoli-apple-asr fed as a meeting host feeds it, side by side with PocketSphinx's own
command lines on the same audio: the test set of bench/asr_sets.py (meeting sentences
spoken by Festival's English voices with pauses between them, and the LibriVox clips).

Each recording is fed as a stream of its own, and then, as the host feeds one speaker's
stream for a whole meeting, on one stream: the LibriVox clips in several orders with a
quiet room's noise between them, and the meetings one after another. The server gets
contiguous 200 ms chunks. pocketsphinx_continuous gets each meeting sentence alone (cut
from the same recording, noise included), each LibriVox clip and each one-stream feed
whole; pocketsphinx_batch gets the LibriVox clips.

    bench/asr_benchmark.py [--one-stream] [build/bin]

--one-stream leaves out the per-recording feeds.
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(os.path.dirname(ROOT), "tests", "harness"),
                os.path.join(os.path.dirname(ROOT), "tests", "asr"), ROOT]
ONLY_ONE_STREAM = "--one-stream" in sys.argv[1:]
ARGS = [a for a in sys.argv[1:] if a != "--one-stream"]
os.environ.setdefault("TEVOLI_BIN_DIR", ARGS[0] if ARGS else os.path.join(os.path.dirname(ROOT), "build", "bin"))

import asr_sets  # noqa: E402
from asr_client import AsrServer, pcm  # noqa: E402

CHUNK = 3200                 # 200 ms
SHORTEST_SETTLE = 0.38       # the shortest wait of a "feed" reply: 300 ms and 8 polls of 10 ms


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def proc_status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) / 1024  # MiB
    raise KeyError(key)


def process_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Tally:
    def __init__(self):
        self.errors = self.words = 0
        self.cpu = self.audio = 0.0

    def add(self, reference, heard, cpu=0.0, audio=0.0):
        self.errors += asr_sets.edit_distance(reference, heard)
        self.words += len(reference)
        self.cpu += cpu
        self.audio += audio

    @property
    def wer(self):
        return 100 * self.errors / self.words


def continuous(wav):
    """Words and CPU seconds of pocketsphinx_continuous on one file."""
    before = children_cpu()
    out = subprocess.run(["pocketsphinx_continuous", "-infile", wav, "-logfn", "/dev/null"],
                         capture_output=True, text=True, check=True).stdout
    return asr_sets.words_of(out), children_cpu() - before


def batch(recordings, folder):
    """Words of pocketsphinx_batch on each recording, by name, and its CPU seconds."""
    ctl = os.path.join(folder, "batch.ctl")
    with open(ctl, "w") as f:
        for recording in recordings:
            asr_sets.write_wav(os.path.join(folder, recording.name + ".wav"), recording.samples)
            f.write(recording.name + "\n")
    hyp = os.path.join(folder, "batch.hyp")
    before = children_cpu()
    subprocess.run(["pocketsphinx_batch", "-adcin", "yes", "-cepdir", folder, "-cepext", ".wav", "-ctl", ctl,
                    "-hyp", hyp, "-logfn", "/dev/null"], check=True, capture_output=True)
    cpu = children_cpu() - before
    heard = {}
    with open(hyp) as f:
        for line in f:
            text, _, rest = line.rpartition("(")
            heard[rest.split()[0]] = asr_sets.words_of(text)
    return heard, cpu


def serve(server, recording, latencies):
    """Feeds one recording as a stream; returns its words, the server's CPU seconds on
    it (loading the model included, as for a command line run) and its wall time beyond
    the shortest settle waits."""
    cpu_before = process_cpu(server.pid)
    server.request(op="begin", stream=recording.name)
    heard, beyond = [], 0.0
    samples = recording.samples

    def take(segments, fed_ms):
        for seg in segments:
            heard.extend(asr_sets.words_of(seg["text"]))
            latencies.append((fed_ms - seg["t1_ms"]) / 1000)

    for at in range(0, len(samples), CHUNK):
        chunk = samples[at:at + CHUNK]
        start = time.monotonic()
        reply = server.request(op="feed", stream=recording.name, pcm=pcm(chunk), offset_ms=at // 16)
        beyond += max(0.0, time.monotonic() - start - SHORTEST_SETTLE)
        take(reply["segments"], (at + len(chunk)) // 16)
    start = time.monotonic()
    take(server.request(op="finish", stream=recording.name)["segments"], len(samples) // 16)
    beyond += time.monotonic() - start
    return heard, process_cpu(server.pid) - cpu_before, beyond


def continuous_alone(recording, path, folder):
    """pocketsphinx_continuous's words on each sentence of a recording alone (cut with
    its noise), or on the whole recording; with the words said in each part."""
    parts = [(path, recording.words)]
    if recording.sentences:
        parts = []
        for i, ((first, end), words) in enumerate(recording.sentences):
            part = os.path.join(folder, f"{recording.name}-{i}.wav")
            asr_sets.write_wav(part, recording.samples[max(0, first - 4800):end + 8000])
            parts.append((part, words))
    alone = Tally()
    for part, words in parts:
        alone.add(words, continuous(part)[0])
    return alone


def main():
    with tempfile.TemporaryDirectory(prefix="tevoli-asr-bench-") as folder:
        recordings = asr_sets.test_set(folder)
        librivox = [r for r in recordings if r.group == "LibriVox"]
        meetings = [r for r in recordings if r.group != "LibriVox"]
        feeds = asr_sets.one_stream_feeds(librivox, "LibriVox") + [
            asr_sets.joined("meetings-one-stream", "meetings, one stream", meetings)]
        if not ONLY_ONE_STREAM:
            feeds = recordings + feeds
        rows, latencies = {}, []
        ours_all, cli_all, beyond = Tally(), Tally(), 0.0
        with AsrServer() as server:
            baseline = proc_status(server.pid, "VmRSS")
            for feed in feeds:
                heard, cpu, waited = serve(server, feed, latencies)
                beyond += waited
                path = os.path.join(folder, feed.name + ".stream.wav")
                asr_sets.write_wav(path, feed.samples)
                _, cli_cpu = continuous(path)
                ours_all.add([], [], cpu, feed.seconds)
                cli_all.add([], [], cli_cpu, feed.seconds)
                alone = continuous_alone(feed, path, folder)
                mine = Tally()
                mine.add(feed.words, heard)
                print(f"{feed.name:45} {feed.seconds:5.1f} s  WER {mine.wer:5.1f} %, "
                      f"pocketsphinx_continuous {alone.wer:5.1f} %", flush=True)
                row = "LibriVox, one stream per recording" if feed.group == "LibriVox" else (
                    "meetings, one stream per recording" if feed.group.startswith("meetings (") else feed.group)
                ours, cli = rows.setdefault(row, (Tally(), Tally()))
                ours.add(feed.words, heard, 0, feed.seconds)
                cli.errors += alone.errors
                cli.words += alone.words
            peak = proc_status(server.pid, "VmHWM") - baseline
            server.close()
        cli_peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        batch_words, batch_cpu = batch(librivox, folder)
        batch_tally = Tally()
        for recording in librivox:
            batch_tally.add(recording.words, batch_words[recording.name], 0, recording.seconds)

    audio = ours_all.audio
    latency = statistics.median(latencies)
    print()
    print(f"{audio:.0f} s of audio; load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    print("| WER | audio | tevoli-apple-asr, 200 ms chunks | pocketsphinx_continuous | pocketsphinx_batch |")
    print("|---|---|---|---|---|")
    for row, (ours, cli) in rows.items():
        alone = " (each sentence alone)" if row.startswith("meetings, one stream per") else (
            " (the whole stream)" if "one stream," in row else "")
        batch_cell = f"{batch_tally.wer:.1f} % (each clip)" if row.startswith("LibriVox") else ""
        print(f"| {row} | {ours.audio:.0f} s | {ours.wer:.1f} % | {cli.wer:.1f} %{alone} | {batch_cell} |")
    print()
    print("| | CPU s per audio s | median latency | beyond settle | peak memory |")
    print("|---|---|---|---|---|")
    print(f"| tevoli-apple-asr, 200 ms chunks | {ours_all.cpu / audio:.3f} | {latency:.2f} s | {beyond / audio:.2f}x | "
          f"{peak:.0f} MiB per stream |")
    print(f"| pocketsphinx_continuous | {cli_all.cpu / audio:.3f} | | | {cli_peak:.0f} MiB |")
    print(f"| pocketsphinx_batch | {batch_cpu / batch_tally.audio:.3f} | | | |")
    goals = [(f"WER of {row} within 2 points of pocketsphinx_batch's", ours.wer <= batch_tally.wer + 2)
             for row, (ours, _) in rows.items() if row.startswith("LibriVox")]
    goals += [(f"WER of {row} within 2 points of pocketsphinx_continuous's on each sentence alone",
               ours.wer <= rows["meetings, one stream per recording"][1].wer + 2)
              for row, (ours, _) in rows.items() if row.startswith("meetings") and not ONLY_ONE_STREAM]
    goals += [
        ("median latency at most 2.5 s of audio fed", latency <= 2.5),
        ("CPU at most 1.3x pocketsphinx_continuous's", ours_all.cpu <= 1.3 * cli_all.cpu),
        ("time beyond the settle waits under 0.5x the audio", beyond < 0.5 * audio),
    ]
    print(f"CPU ratio to pocketsphinx_continuous on the same feeds, each loading the model once a feed: "
          f"{ours_all.cpu / cli_all.cpu:.2f}x")
    for goal, met in goals:
        print(f"{'met' if met else 'MISSED'}: {goal}")
    return 0 if all(met for _, met in goals) else 1


if __name__ == "__main__":
    sys.exit(main())
