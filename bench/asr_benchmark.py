#!/usr/bin/env python3
"""Word error rate and real-time factor of tevoli-apple-asr, fed through its protocol
in 1-second chunks, side by side with PocketSphinx's own streaming command line
(pocketsphinx_continuous) on the same audio: the LibriVox clips of
pocketsphinx-testdata and sentences synthesized with Festival's HTS voice.

    bench/asr_benchmark.py [build/bin]
"""
import os
import re
import resource
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "asr")]
os.environ.setdefault("TEVOLI_BIN_DIR", sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin"))

from asr_client import AsrServer, pcm, read_wav_16k_mono  # noqa: E402
from media import synthesize_speech  # noqa: E402

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
SENTENCES = [
    "the meeting will start at ten in the morning",
    "please send me the report before friday",
    "we need to discuss the budget for next year",
    "the new office is close to the train station",
    "she said that the project was almost finished",
    "can you call me back after lunch",
]


def normalise(text):
    return [re.sub(r"\(\d+\)$", "", w) for w in text.lower().split() if not w.startswith(("<", "[", "++"))]


def edit_distance(ref, hyp):
    row = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        prev, row[0] = row[0], i
        for j, h in enumerate(hyp, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (r != h))
    return row[-1]


def corpus():
    """(name, wav path, reference words) for every test recording."""
    items = []
    with open(os.path.join(LIBRIVOX, "transcription")) as f:
        for line in f:
            name = re.search(r"\((.*)\)", line).group(1)
            items.append((name, os.path.join(LIBRIVOX, name + ".wav"), normalise(re.sub(r"\(.*\)", "", line))))
    folder = tempfile.mkdtemp(prefix="tevoli-asr-bench-")
    for i, sentence in enumerate(SENTENCES):
        path = os.path.join(folder, f"hts-{i}.wav")
        synthesize_speech(sentence, path)
        items.append((f"hts-{i}", path, sentence.split()))
    return items


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_command_line(wav):
    before, start = children_cpu(), time.monotonic()
    out = subprocess.run(["pocketsphinx_continuous", "-infile", wav, "-logfn", "/dev/null"],
                         capture_output=True, text=True, check=True).stdout
    return normalise(out), children_cpu() - before, time.monotonic() - start


def run_server(server, name, samples):
    """Feeds one recording as a stream of its own; returns the words, the feed reply
    times, the finish time and the server's CPU time spent on the stream's begin."""
    cpu_before = server_cpu(server.proc.pid)
    server.request(op="begin", stream=name)
    begin_cpu = server_cpu(server.proc.pid) - cpu_before
    feeds, heard = [], []
    for at in range(0, len(samples), 16000):
        start = time.monotonic()
        reply = server.request(op="feed", stream=name, pcm=pcm(samples[at:at + 16000]),
                               offset_ms=at // 16)
        feeds.append(time.monotonic() - start)
        heard += [s["text"] for s in reply["segments"]]
    start = time.monotonic()
    heard += [s["text"] for s in server.request(op="finish", stream=name)["segments"]]
    return normalise(" ".join(heard)), feeds, time.monotonic() - start, begin_cpu


def server_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    items = corpus()
    totals = {"audio": 0.0, "words": 0, "cli_err": 0, "our_err": 0, "cli_cpu": 0.0, "cli_wall": 0.0,
              "our_cpu": 0.0, "our_begin_cpu": 0.0, "finish": 0.0, "beyond_settle": 0.0}
    feeds = []
    print(f"{'recording':40} {'sec':>5} {'cli WER':>8} {'our WER':>8}")
    with AsrServer() as server:
        for name, wav, reference in items:
            samples = read_wav_16k_mono(wav)
            seconds = len(samples) / 16000
            cli_words, cli_cpu, cli_wall = run_command_line(wav)
            cpu_before = server_cpu(server.proc.pid)
            our_words, feed_times, finish_time, begin_cpu = run_server(server, name, samples)
            totals["our_begin_cpu"] += begin_cpu
            # Wall time the host waited beyond the shortest possible settle (300 ms + 8 polls).
            totals["beyond_settle"] += sum(max(0.0, t - 0.38) for t in feed_times) + finish_time
            totals["our_cpu"] += server_cpu(server.proc.pid) - cpu_before
            cli_err, our_err = edit_distance(reference, cli_words), edit_distance(reference, our_words)
            totals["audio"] += seconds
            totals["words"] += len(reference)
            totals["cli_err"] += cli_err
            totals["our_err"] += our_err
            totals["cli_cpu"] += cli_cpu
            totals["cli_wall"] += cli_wall
            totals["finish"] += finish_time
            feeds += feed_times
            print(f"{name:40} {seconds:5.1f} {100 * cli_err / len(reference):7.1f}% {100 * our_err / len(reference):7.1f}%")
        server.close()
    audio = totals["audio"]
    cli_wer = 100 * totals["cli_err"] / totals["words"]
    our_wer = 100 * totals["our_err"] / totals["words"]
    print()
    print(f"audio: {audio:.1f} s in {len(items)} recordings, {totals['words']} reference words")
    print(f"WER: pocketsphinx_continuous {cli_wer:.1f} %, tevoli-apple-asr {our_wer:.1f} % "
          f"(difference {our_wer - cli_wer:+.1f} points; goal at most +2.0)")
    print(f"RTF (CPU seconds per audio second, model loading included): pocketsphinx_continuous "
          f"{totals['cli_cpu'] / audio:.3f}, tevoli-apple-asr {totals['our_cpu'] / audio:.3f} "
          f"(ratio {totals['our_cpu'] / totals['cli_cpu']:.2f}x)")
    print(f"tevoli-apple-asr RTF without model loading (begin): "
          f"{(totals['our_cpu'] - totals['our_begin_cpu']) / audio:.3f}; "
          f"wall time beyond the minimal settle waits, per audio second: {totals['beyond_settle'] / audio:.3f} "
          f"(goal under 0.5)")
    print(f"pocketsphinx_continuous wall time: {totals['cli_wall']:.2f} s for {audio:.1f} s of audio")
    print(f"mean feed reply time (settle wait included, 1-second chunks): {1000 * sum(feeds) / len(feeds):.0f} ms "
          f"over {len(feeds)} feeds; longest {1000 * max(feeds):.0f} ms")
    print(f"mean finish time: {1000 * totals['finish'] / len(items):.0f} ms")


if __name__ == "__main__":
    main()
