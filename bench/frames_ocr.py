#!/usr/bin/env python3
"""tevoli-frames ocr over twenty 1280x720 frames of rendered text against a shell
loop of `tesseract <image> stdout`, side by side in one run: both times, the
ratio, whether the text is the same, and the character error rate.

    bench/frames_ocr.py [build/bin]
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "frames"))
from frames_media import character_error_rate, text_image  # noqa: E402

BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin"))
WORDS = ("meeting budget roadmap design review launch customer interview quarter planning team notes "
         "action item decision schedule product release feedback metrics hiring onboarding support "
         "Monday Thursday September report draft").split()


def timed(cmd, **kwargs):
    start = time.monotonic()
    result = subprocess.run(cmd, check=True, capture_output=True, **kwargs)
    return time.monotonic() - start, result.stdout


def main():
    work = tempfile.mkdtemp(prefix="tevoli-bench-ocr-")
    try:
        rng = random.Random(7)
        images, truths = [], []
        for n in range(20):
            lines = [" ".join(rng.choice(WORDS) for _ in range(6)).capitalize() for _ in range(5)]
            path = os.path.join(work, f"frame-{n:02d}.png")
            text_image(path, lines, pointsize=32)
            images.append(path)
            truths.append(" ".join(lines))

        ours_time, ours_out = timed([os.path.join(BIN, "tevoli-frames"), "ocr", *images])
        loop = 'for f in "$@"; do tesseract "$f" stdout; printf "\\f"; done'
        env = {k: v for k, v in os.environ.items() if k != "OMP_THREAD_LIMIT"}
        cli_time, cli_out = timed(["sh", "-c", loop + " 2>/dev/null", "sh", *images], env=env)
        # For reference: the same loop with OpenMP held to one thread.
        one_time, _ = timed(["sh", "-c", loop + " 2>/dev/null", "sh", *images], env={**env, "OMP_THREAD_LIMIT": "1"})

        ours = [json.loads(line)["text"] for line in ours_out.decode().splitlines()]
        cli = cli_out.decode().split("\f")[:-1]
        same = sum(" ".join(a.split()) == " ".join(b.split()) for a, b in zip(ours, cli))
        ours_cer = sum(character_error_rate(t, truth) for t, truth in zip(ours, truths)) / len(truths)
        cli_cer = sum(character_error_rate(t, truth) for t, truth in zip(cli, truths)) / len(truths)
        print("OCR of twenty 1280x720 frames of rendered text")
        print(f"  tevoli-frames ocr            {ours_time:6.2f} s   CER {ours_cer:.2%}")
        print(f"  tesseract <image> stdout x20 {cli_time:6.2f} s   CER {cli_cer:.2%}")
        print(f"  same loop, OMP_THREAD_LIMIT=1 {one_time:5.2f} s")
        print(f"  ours is {cli_time / ours_time:.2f}x faster (goal >= 1.3x); same text on {same}/20 images")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
