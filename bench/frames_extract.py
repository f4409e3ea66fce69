#!/usr/bin/env python3
"""tevoli-frames extract against the ffmpeg command line and against the floor
(decoding only what the sampled frames need, encoding the JPEGs in memory), side
by side in one run, plus peak memory on a 3840x2160 video. Wall times are the
goal's measure; CPU times say more on a loaded machine (ffmpeg decodes on every
core, we on one).

    bench/frames_extract.py [build/bin]   # videos are kept in $TMPDIR/tevoli-bench-frames
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from frames_common import measure  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bin"))
WORK = os.path.join(tempfile.gettempdir(), "tevoli-bench-frames")


def video(name, *args):
    path = os.path.join(WORK, name)
    if not os.path.exists(path):
        print(f"making {name} ...", flush=True)
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args, "-c:v", "libx264", "-preset", "veryfast",
                        "-pix_fmt", "yuv420p", path + ".part.mp4"], check=True)
        os.rename(path + ".part.mp4", path)
    return path


def pattern(source, seconds, gop):
    return ["-f", "lavfi", "-i", f"{source}:d={seconds}", "-g", str(gop), "-keyint_min", str(gop), "-sc_threshold", "0"]


def slides(seconds):
    """A screen recording at 1 fps: a new slide every minute, a pointer that moves
    every second, the encoder's own keyframe choices."""
    return ["-f", "lavfi", "-i", f"testsrc2=s=1280x720:r=1/60:d={seconds}", "-f", "lavfi", "-i",
            f"color=white:s=24x24:r=1:d={seconds}", "-filter_complex",
            "[0]fps=1[slides];[slides][1]overlay=x='mod(t*97,1200)':y='mod(t*31,680)':eof_action=endall"]


def floor_tool():
    path = os.path.join(WORK, "frames_floor")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libavformat", "libavcodec", "libswscale",
                            "libavutil", "libturbojpeg"], check=True, capture_output=True, text=True).stdout.split()
    subprocess.run(["g++", "-O2", "-std=c++20", os.path.join(ROOT, "bench", "frames_floor.cpp"), "-o", path, *flags],
                   check=True)
    return path


def fresh(name):
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def ffmpeg_fps(path, rate, name):
    return ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-vf", f"fps={rate}",
            os.path.join(fresh(name), "%04d.jpg")]


def row(label, figures):
    wall, cpu, mb = figures
    return f"  {label:32s} {wall:7.2f} s wall {cpu:7.2f} s CPU {mb:7.1f} MB"


def main():
    os.makedirs(WORK, exist_ok=True)
    frames = os.path.join(BIN, "tevoli-frames")
    hd = video("hd-10min.mp4", *pattern("testsrc2=s=1280x720:r=30", 600, 60))
    # One keyframe only, so every frame up to the last sample is decoded.
    uhd = video("uhd-10s-one-keyframe.mp4", *pattern("testsrc2=s=3840x2160:r=30", 10, 300))
    talk = video("slides-60min-1fps.mp4", *slides(3600))
    floor = floor_tool()
    print(f"load average before the runs: {os.getloadavg()[0]:.1f}")

    print("10-minute 1280x720 H.264, keyframe every 2 s, one frame every 5 s (120 frames)")
    r = measure({"ours": [frames, "extract", hd, fresh("ours"), "5"], "floor": [floor, hd, "5", "120"]}, runs=5)
    r.update(measure({"ffmpeg": ffmpeg_fps(hd, "1/5", "ffmpeg")}, runs=1))
    print(row("tevoli-frames extract", r["ours"]))
    print(row("ffmpeg -vf fps=1/5", r["ffmpeg"]) + f"   ours is {r['ffmpeg'][0] / r['ours'][0]:.1f}x faster"
          f" (goal >= 30x; {r['ffmpeg'][1] / r['ours'][1]:.1f}x in CPU)")
    print(row("floor (120 keyframes)", r["floor"]) + f"   ours is {r['ours'][0] / r['floor'][0]:.2f}x the floor"
          " (goal <= 1.5x)")

    print("60-minute 1280x720 screen recording at 1 fps, one frame every 5 s (720 frames)")
    r = measure({"ours": [frames, "extract", talk, fresh("ours-talk"), "5"],
                 "floor": [floor, talk, "5", "720", "forward"]}, runs=3)
    r.update(measure({"ffmpeg": ffmpeg_fps(talk, "1/5", "ffmpeg-talk")}, runs=1))
    print(row("tevoli-frames extract", r["ours"]))
    print(row("ffmpeg -vf fps=1/5", r["ffmpeg"]) + f"   ours is {r['ffmpeg'][0] / r['ours'][0]:.1f}x faster"
          f" ({r['ffmpeg'][1] / r['ours'][1]:.1f}x in CPU)")
    print(row("floor (frames needed only)", r["floor"]) + f"   ours is {r['ours'][0] / r['floor'][0]:.2f}x the floor")

    print("10-second 3840x2160 H.264 with a single keyframe, one frame a second")
    r = measure({"ours": [frames, "extract", uhd, fresh("ours-uhd"), "1"],
                 "ffmpeg": ffmpeg_fps(uhd, "1", "ffmpeg-uhd")}, runs=1)
    print(row("tevoli-frames extract", r["ours"]) + " (goal < 150 MB)")
    print(row("ffmpeg -vf fps=1", r["ffmpeg"]) + f"   ours is {r['ffmpeg'][0] / r['ours'][0]:.1f}x faster")


if __name__ == "__main__":
    main()
