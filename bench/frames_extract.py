#!/usr/bin/env python3
"""tevoli-frames extract against the ffmpeg command line and against the floor
(decode the 120 keyframes and encode 120 JPEGs), side by side in one run, plus
peak memory on a 3840x2160 video.

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


def video(name, source, seconds, gop=60):
    path = os.path.join(WORK, name)
    if not os.path.exists(path):
        print(f"making {name} ...", flush=True)
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", f"{source}:d={seconds}",
                        "-c:v", "libx264", "-preset", "veryfast", "-g", str(gop), "-keyint_min", str(gop),
                        "-sc_threshold", "0", "-pix_fmt", "yuv420p", path + ".part.mp4"], check=True)
        os.rename(path + ".part.mp4", path)
    return path


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


def main():
    os.makedirs(WORK, exist_ok=True)
    frames = os.path.join(BIN, "tevoli-frames")
    hd = video("hd-10min.mp4", "testsrc2=s=1280x720:r=30", 600)
    # One keyframe only, so every frame up to the last sample is decoded.
    uhd = video("uhd-10s-one-keyframe.mp4", "testsrc2=s=3840x2160:r=30", 10, gop=300)
    floor = floor_tool()

    print("10-minute 1280x720 H.264, keyframe every 2 s, one frame every 5 s (120 frames)")
    r = measure({"ours": [frames, "extract", hd, fresh("ours"), "5"], "floor": [floor, hd, "5", "120"]}, runs=5)
    r.update(measure({"ffmpeg": ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", hd, "-vf", "fps=1/5",
                                 os.path.join(fresh("ffmpeg"), "%04d.jpg")]}, runs=1))
    (ours, ours_mb), (base, base_mb), (low, _) = r["ours"], r["ffmpeg"], r["floor"]
    print(f"  tevoli-frames extract   {ours:7.2f} s  {ours_mb:6.1f} MB")
    print(f"  ffmpeg -vf fps=1/5      {base:7.2f} s  {base_mb:6.1f} MB   ours is {base / ours:.1f}x faster (goal >= 3x)")
    print(f"  floor (120 keyframes)   {low:7.2f} s             ours is {ours / low:.2f}x the floor (goal <= 1.5x)")

    print("10-second 3840x2160 H.264 with a single keyframe, one frame a second")
    r = measure({"ours": [frames, "extract", uhd, fresh("ours-uhd"), "1"],
                 "ffmpeg": ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", uhd, "-vf", "fps=1",
                            os.path.join(fresh("ffmpeg-uhd"), "%04d.jpg")]}, runs=1)
    (ours, ours_mb), (base, base_mb) = r["ours"], r["ffmpeg"]
    print(f"  tevoli-frames extract   {ours:7.2f} s  {ours_mb:6.1f} MB peak (goal < 150 MB)")
    print(f"  ffmpeg -vf fps=1        {base:7.2f} s  {base_mb:6.1f} MB peak   ours is {base / ours:.1f}x faster")


if __name__ == "__main__":
    main()
