#!/usr/bin/env python3
"""tevoli-apple-asr fed as a meeting host feeds it, side by side with PocketSphinx's own
command lines on the same audio: the test set of bench/asr_sets.py (meeting sentences
spoken by Festival's English voices with pauses between them, and the LibriVox clips).

The server gets each recording as a stream of its own in contiguous 200 ms chunks.
pocketsphinx_continuous gets each meeting sentence alone (cut from the same recording,
noise included) and each LibriVox clip; pocketsphinx_batch gets the LibriVox clips.

    bench/asr_benchmark.py [build/bin]
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
os.environ.setdefault("TEVOLI_BIN_DIR", sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(ROOT),
                                                                                            "build", "bin"))

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
    cpu_before = process_cpu(server.proc.pid)
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
    return heard, process_cpu(server.proc.pid) - cpu_before, beyond


def main():
    with tempfile.TemporaryDirectory(prefix="tevoli-asr-bench-") as folder:
        recordings = asr_sets.test_set(folder)
        librivox = [r for r in recordings if r.group == "LibriVox"]
        ours, cli, by_group, cli_by_group, latencies = {}, {}, {}, {}, []
        ours_all, cli_all, beyond = Tally(), Tally(), 0.0
        with AsrServer() as server:
            baseline = proc_status(server.proc.pid, "VmRSS")
            for recording in recordings:
                heard, cpu, waited = serve(server, recording, latencies)
                beyond += waited
                kind = "LibriVox" if recording.group == "LibriVox" else "meetings"
                for tally in (ours.setdefault(kind, Tally()), by_group.setdefault(recording.group, Tally()), ours_all):
                    tally.add(recording.words, heard, cpu, recording.seconds)
                # The command line on the same audio: each sentence alone, or the clip.
                path = os.path.join(folder, recording.name + ".stream.wav")
                asr_sets.write_wav(path, recording.samples)
                _, cpu = continuous(path)
                cli_all.add([], [], cpu, recording.seconds)
                parts = [(path, recording.words)]
                if recording.sentences:
                    parts = []
                    for i, ((first, end), words) in enumerate(recording.sentences):
                        part = os.path.join(folder, f"{recording.name}-{i}.wav")
                        asr_sets.write_wav(part, recording.samples[max(0, first - 4800):end + 8000])
                        parts.append((part, words))
                alone = Tally()
                for part, words in parts:
                    heard_alone = continuous(part)[0]
                    for tally in (alone, cli.setdefault(kind, Tally()), cli_by_group.setdefault(recording.group, Tally())):
                        tally.add(words, heard_alone)
                mine = Tally()
                mine.add(recording.words, heard)
                print(f"{recording.name:45} {recording.seconds:5.1f} s  WER {mine.wer:5.1f} %, "
                      f"pocketsphinx_continuous {alone.wer:5.1f} %", flush=True)
            peak = proc_status(server.proc.pid, "VmHWM") - baseline
            server.close()
        cli_peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        batch_words, batch_cpu = batch(librivox, folder)
        batch_tally = Tally()
        for recording in librivox:
            batch_tally.add(recording.words, batch_words[recording.name], 0, recording.seconds)
        batch_tally.cpu = batch_cpu

    audio = ours_all.audio
    latency = statistics.median(latencies)
    print()
    print(f"test set: {audio:.0f} s of audio, {ours_all.words} words; load average "
          f"{os.getloadavg()[0]:.1f} on {os.cpu_count()} cores")
    print("| | WER LibriVox | WER meetings | CPU s per audio s | median latency | beyond settle | peak memory |")
    print("|---|---|---|---|---|---|---|")
    print(f"| tevoli-apple-asr, 200 ms chunks | {ours['LibriVox'].wer:.1f} % | {ours['meetings'].wer:.1f} % | "
          f"{ours_all.cpu / audio:.3f} | {latency:.2f} s | {beyond / audio:.2f}x | {peak:.0f} MiB per stream |")
    print(f"| pocketsphinx_continuous | {cli['LibriVox'].wer:.1f} % | {cli['meetings'].wer:.1f} % "
          f"(each sentence alone) | {cli_all.cpu / audio:.3f} | | | {cli_peak:.0f} MiB |")
    print(f"| pocketsphinx_batch | {batch_tally.wer:.1f} % | | {batch_cpu / batch_tally.audio:.3f} | | | |")
    for group, tally in by_group.items():
        print(f"{group}: tevoli-apple-asr {tally.wer:.1f} % WER, pocketsphinx_continuous "
              f"{cli_by_group[group].wer:.1f} %")
    goals = [
        ("WER on LibriVox at or below pocketsphinx_batch's", ours["LibriVox"].wer <= batch_tally.wer),
        ("WER on meetings within 2 points of pocketsphinx_continuous's",
         ours["meetings"].wer <= cli["meetings"].wer + 2),
        ("median latency at most 2.5 s of audio fed", latency <= 2.5),
        ("CPU at most 1.3x pocketsphinx_continuous's", ours_all.cpu <= 1.3 * cli_all.cpu),
        ("time beyond the settle waits under 0.5x the audio", beyond < 0.5 * audio),
    ]
    print(f"CPU ratio to pocketsphinx_continuous on the same recordings, each loading the model once: "
          f"{ours_all.cpu / cli_all.cpu:.2f}x")
    for goal, met in goals:
        print(f"{'met' if met else 'MISSED'}: {goal}")
    return 0 if all(met for _, met in goals) else 1


if __name__ == "__main__":
    sys.exit(main())
