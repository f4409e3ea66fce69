"""tevoli-frames extract, run as the host runs it, on videos made on the spot."""
import concurrent.futures
import os
import subprocess
import tempfile
import unittest
from pathlib import Path

from frames_media import CODE_SIZE, coded_video, decodable_times, ffmpeg, shown_times
from media import pixel, read_image
from small_disk import on_small_disk
from tevoli_harness import binary, run

# Frame codes count centiseconds, and containers round times to their own clocks.
SLACK = 0.02


def frames(*args, **kwargs):
    return run("tevoli-frames", *args, **kwargs)


def x264(bframes=None, gop=None):
    args = ["-c:v", "libx264", "-pix_fmt", "yuv420p"]
    args += ["-bf", str(bframes)] if bframes is not None else []
    return args + (["-g", str(gop)] if gop is not None else [])


def sampling_times(interval, duration):
    times = [0.0]
    while len(times) < 720 and times[-1] + interval < duration:
        times.append(times[-1] + interval)
    return times


# Variable frame rate from one 150 fps source: 25 fps for 3 s, 1 fps for 5 s, one
# frame every 4 s for 12 s, then 30 fps.
VFR = {"shown": "select='if(lt(t,3),not(mod(n,6)),if(lt(t,8),not(mod(n,150)),if(lt(t,20),not(mod(n,600)),"
                "not(mod(n,5)))))'"}

# File, sampling intervals, picture size out, frames a second, seconds, encoding, how it is made.
CORPUS = [
    # One frame every 5 s; B-frames put a keyframe's decoding 10 s before its display.
    ("sparse.mp4", [0.7, 14.5], CODE_SIZE, 25, 61, x264(3, 4), {"shown": "select='not(mod(n,125))'"}),
    ("1fps-long-gop.mp4", [0.5], CODE_SIZE, 1, 60, x264(0, 250), {}),
    # The encoder's own B-frames and keyframe spacing; also past the 720-time cap.
    ("1fps-defaults.mp4", [0.5], CODE_SIZE, 1, 760, x264(), {}),
    ("2fps-gop6.mp4", [0.3], CODE_SIZE, 2, 40, x264(0, 6), {}),
    ("2fps-bframes-gop25.mkv", [1], CODE_SIZE, 2, 40, x264(3, 25), {}),
    ("3fps-bframes-gop25.mp4", [0.3], CODE_SIZE, 3, 40, x264(3, 25), {}),
    ("3fps-all-keyframes.mp4", [2.5], CODE_SIZE, 3, 30, x264(0, 1), {}),
    ("5fps-bframes-gop250.mp4", [0.7], CODE_SIZE, 5, 40, x264(3, 250), {}),
    ("5fps-gop12.mkv", [1], CODE_SIZE, 5, 30, x264(0, 12), {}),
    ("vfr.mp4", [0.3, 1], CODE_SIZE, 150, 23, x264(3, 50), VFR),
    ("vfr.mkv", [0.3, 1], CODE_SIZE, 150, 23, x264(3, 50), VFR),
    # Sound from 0 s, pictures from 2 s.
    ("late-video.mp4", [0.5], CODE_SIZE, 2, 10, x264(2, 25),
     {"shown": "setpts=PTS+2/TB", "inputs": ["-f", "lavfi", "-i", "sine=d=14"]}),
    # A transport stream's clock starts at 1.4 s.
    ("3fps.ts", [0.5], CODE_SIZE, 3, 30, x264(3, 25), {}),
    ("2fps-mpeg2.mpg", [0.5], CODE_SIZE, 2, 30, ["-c:v", "mpeg2video", "-bf", "2", "-g", "12", "-q:v", "3"],
     {}),
    # Several pictures share one packet of the program stream, only the first timed.
    ("3fps-h264.mpg", [0.5], CODE_SIZE, 3, 30, x264(3, 25), {}),
    ("anamorphic.mp4", [1], "256x64", 5, 20, x264(2, 25), {"pixel_aspect": "2"}),
    # Scaled down to fit 1920x1920, whichever side is too long.
    ("uhd.mp4", [1], "1920x1080", 2, 2, x264(), {"size": "3840x2160"}),
    ("tall.mp4", [1], "540x1920", 2, 2, x264(), {"size": "1080x3840"}),
    # An interval longer than the video; a colon in the path is part of the file name, not a protocol.
    ("http:short.mp4", [30], CODE_SIZE, 10, 3, x264(), {}),
]


class ExtractTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="tevoli-frames-e2e-"))

    def out(self, name):
        return os.path.join(self.dir, name)

    def assertOutcome(self, result, status, stdout, stderr=b""):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (status, stdout, stderr))

    def extract(self, row):
        """Makes the video of a corpus row and extracts its frames at each interval."""
        name, intervals, _, rate, seconds, encoding, options = row
        coded_video(self.out(name), rate, seconds, *encoding, **options)
        duration = float(subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                                         "csv=p=0", self.out(name)], capture_output=True, check=True).stdout)
        runs = []
        for interval in intervals:
            # Paths as the host may give them: relative, so that a colon could be read as a protocol.
            result = frames("extract", name, f"{name}-{interval}", str(interval), cwd=self.dir)
            outdir = self.out(f"{name}-{interval}")
            runs.append((interval, sampling_times(interval, duration), result, shown_times(outdir), outdir))
        return decodable_times(self.out(name)), runs

    def test_every_time_with_a_frame_near_it_gets_that_frame(self):
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            outcomes = list(pool.map(self.extract, CORPUS))
        for (name, _, size, *_), (shown, runs) in zip(CORPUS, outcomes):
            for interval, times, result, files, outdir in runs:
                with self.subTest(video=name, interval=interval):
                    self.assertOutcome(result, 0, f"OK {len(files)}\n".encode())
                    names = {f"frame-{int(t * 1000)}.jpg": t for t in times}
                    self.assertLessEqual(set(files), set(names))
                    for file, t in names.items():
                        nearest = min((abs(s - t) for s in shown), default=float("inf"))
                        if file not in files:
                            self.assertGreater(nearest, 1 - SLACK, f"{file} missing")
                        else:
                            self.assertIsNotNone(files[file], f"{file} shows no frame of the video")
                            self.assertLessEqual(abs(files[file] - t), 1 + SLACK, f"{file} shows {files[file]}")
                    self.assertEqual("%dx%d" % read_image(os.path.join(outdir, min(files)))[:2], size)

    def test_a_frame_exactly_a_second_from_a_time_is_taken(self):
        # A frame a second but none at 29 s and 30 s: 30 s has only the frame at 31 s.
        video, outdir = self.out("gap.mp4"), self.out("gap")
        coded_video(video, 150, 33, *x264(), shown="select='not(mod(n,150))*not(between(t,28.5,30.5))'")
        self.assertEqual(frames("extract", video, outdir, "0.5").returncode, 0)
        files = shown_times(outdir)
        self.assertEqual([files.get(f"frame-{ms}.jpg") for ms in (29000, 29500, 30000)], [28.0, None, 31.0])

    def test_rotated_video_comes_out_upright_however_small(self):
        # The small one is narrower than the blocks of pixels a scaler writes whole.
        for width, half in ((320, 120), (12, 6)):
            with self.subTest(width=width):
                plain, video = self.out(f"plain-{width}.mp4"), self.out(f"rotated-{width}.mp4")
                ffmpeg("-filter_complex", f"color=red:s={width}x{half}:r=10:d=1[t];"
                       f"color=blue:s={width}x{half}:r=10:d=1[b];[t][b]vstack", *x264(), plain)
                ffmpeg("-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", video)
                outdir = self.out(f"rotated-{width}")
                self.assertOutcome(frames("extract", video, outdir, "1"), 0, b"OK 1\n")
                image = read_image(os.path.join(outdir, "frame-0.jpg"))
                self.assertEqual(image[:2], (2 * half, width))
                # A quarter turn counter-clockwise: the red top is now on the left.
                self.assertGreater(pixel(image, half // 3, width // 2)[0], 200)
                self.assertGreater(pixel(image, 2 * half - 1 - half // 3, width // 2)[2], 200)

    def test_no_video_track_fails_but_leaves_the_directory(self):
        ffmpeg("-f", "lavfi", "-i", "sine=d=1", self.out("tone.m4a"))
        for video in ("tone.m4a", "missing.mp4"):
            with self.subTest(video=video):
                outdir = self.out(f"none-{video}/a/b")
                self.assertOutcome(frames("extract", self.out(video), outdir, "1"), 1, b"",
                                   b"tevoli-frames: no video track (or unsupported container)\n")
                self.assertEqual(os.listdir(outdir), [])

    def test_damaged_video_counts_only_what_it_writes(self):
        whole = self.out("faststart.mp4")
        ffmpeg("-f", "lavfi", "-i", "testsrc2=s=320x240:r=10:d=10", *x264(gop=20), "-movflags", "+faststart",
               whole)
        data = Path(whole).read_bytes()
        middle, media = len(data) // 2, data.index(b"mdat") + 4
        garbled = data[:middle] + os.urandom(4096) + data[middle + 4096:]
        # Cut, garbled, or with every byte of its media zeroed so that nothing decodes.
        for name, damaged, some in (("truncated.mp4", data[:middle], True), ("garbled.mp4", garbled, True),
                                    ("zeroed.mp4", data[:media] + bytes(len(data) - media), False)):
            video = self.out(name)
            Path(video).write_bytes(damaged)
            with self.subTest(video=video):
                result = frames("extract", video, video + "-frames", "0.5")
                written = len(os.listdir(video + "-frames"))
                self.assertOutcome(result, 0, f"OK {written}\n".encode())
                self.assertEqual(written > 0, some)

    def test_a_full_disk_leaves_whole_frames_only_and_counts_them(self):
        video, reference = self.out("full-disk.mp4"), self.out("full-disk-frames")
        ffmpeg("-f", "lavfi", "-i", "testsrc2=s=320x240:r=5:d=10", *x264(), video)
        self.assertOutcome(frames("extract", video, reference, "0.5"), 0, b"OK 20\n")
        whole = {name: Path(reference, name).read_bytes() for name in os.listdir(reference)}
        # Room for a few frames of about 12 KB; the second run goes into the folder of the first.
        for wrapper in ("", "no_fd_links"):
            with self.subTest(wrapper=wrapper):
                script = (f'for copy in "$3" "$4"; do {wrapper} "$1" extract "$2" "$DISK/f" 0.5; '
                          'cp -a "$DISK/f" "$copy"; done')
                copies = [self.out(f"full-disk-{wrapper}-{run}") for run in (1, 2)]
                result = on_small_disk(script, binary("tevoli-frames"), video, *copies, size="64k")
                runs = [{name: Path(copy, name).read_bytes() for name in os.listdir(copy)} for copy in copies]
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                first, second = result.stdout.decode().splitlines()
                self.assertEqual(first, f"OK {len(runs[0])}")
                self.assertTrue(runs[0] and len(runs[0]) < len(whole), sorted(runs[0]))
                self.assertEqual(runs[0], {name: whole.get(name) for name in runs[0]})
                self.assertEqual(runs[1], runs[0])
                self.assertLessEqual(int(second.split()[1]), len(runs[0]))


if __name__ == "__main__":
    unittest.main()
