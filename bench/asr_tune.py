#!/usr/bin/env python3
"""Tunes tevoli-apple-asr's PocketSphinx settings: runs its transcription stream
(bench/asr_decode.cpp, built against the build tree) over the development set of
bench/asr_sets.py with each setting of a grid and prints the word error rate and CPU
time of each. With --test, measures the given options on the test set instead.

    bench/asr_tune.py [--build build] [--test] [-d NAME VALUE | -v NAME VALUE]...

-d sets a decoder option and -v an option of the voice-activity detector on top of the
server's own settings; without --test they are added to every setting of the grid.
"""
import argparse
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "harness"), os.path.join(ROOT, "tests", "asr"), os.path.join(ROOT, "bench")]

import asr_sets  # noqa: E402

# Each entry: a label and its options, on top of the server's settings. The server's
# settings (PocketSphinx's defaults for the decoder) were the best of these.
GRID = [
    ("server settings", []),
    ("-lw 5.5", ["-d", "-lw", "5.5"]),
    ("-lw 7", ["-d", "-lw", "7"]),
    ("-lw 8", ["-d", "-lw", "8"]),
    ("-wip 0.2", ["-d", "-wip", "0.2"]),
    ("-beam 1e-60 -wbeam 1e-40", ["-d", "-beam", "1e-60", "-d", "-wbeam", "1e-40"]),
    ("-remove_noise no", ["-d", "-remove_noise", "no"]),
    ("-vad_threshold 1.5", ["-v", "-vad_threshold", "1.5"]),
    ("-vad_threshold 3", ["-v", "-vad_threshold", "3"]),
    ("-vad_startspeech 5", ["-v", "-vad_startspeech", "5"]),
    ("-vad_postspeech 10", ["-v", "-vad_postspeech", "10"]),
]


def build_tool(build, folder):
    tool = os.path.join(folder, "asr_decode")
    libs = [os.path.join(build, "asr", "libtevoli_asr_linux.a"), os.path.join(build, "asr", "libtevoli_asr_core.a"),
            os.path.join(build, "common", "libtevoli_common.a")]
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "pocketsphinx"], capture_output=True, text=True,
                           check=True).stdout.split()
    subprocess.run(["g++", "-O2", "-std=c++20", "-I", os.path.join(ROOT, "asr"), "-I", os.path.join(ROOT, "common"),
                    os.path.join(ROOT, "bench", "asr_decode.cpp"), "-o", tool, *libs, *flags, "-pthread"], check=True)
    return tool


def run(tool, recordings, paths, options):
    """Word errors and reference words per group, and the CPU seconds, of one setting."""
    out = subprocess.run([tool, *options, *paths], capture_output=True, text=True, check=True).stdout.splitlines()
    groups, cpu = {}, 0.0
    for recording, line in zip(recordings, out):
        fields = line.split("\t")
        cpu += float(fields[0])
        heard = [w for seg in fields[1:] for w in asr_sets.words_of(seg.split(" ", 2)[2])]
        errors, words = groups.get(recording.group, (0, 0))
        groups[recording.group] = (errors + asr_sets.edit_distance(recording.words, heard), words + len(recording.words))
    return groups, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--test", action="store_true")
    args, options = parser.parse_known_args()
    with tempfile.TemporaryDirectory(prefix="tevoli-asr-tune-") as folder:
        tool = build_tool(args.build, folder)
        recordings = asr_sets.test_set(folder) if args.test else asr_sets.development_set(folder)
        paths = []
        for recording in recordings:
            paths.append(os.path.join(folder, recording.name + ".stream.wav"))
            asr_sets.write_wav(paths[-1], recording.samples)
        audio = sum(r.seconds for r in recordings)
        grid = [("given options", [])] if args.test else GRID
        print(f"{'setting':28}" + "".join(f"{g:>16}" for g in dict.fromkeys(r.group for r in recordings))
              + f"{'all':>8}{'CPU/s':>8}")
        for label, extra in grid:
            groups, cpu = run(tool, recordings, paths, options + extra)
            errors = sum(e for e, _ in groups.values())
            words = sum(w for _, w in groups.values())
            print(f"{label:28}" + "".join(f"{100 * e / w:15.1f}%" for e, w in groups.values())
                  + f"{100 * errors / words:7.1f}%{cpu / audio:8.3f}", flush=True)


if __name__ == "__main__":
    main()
