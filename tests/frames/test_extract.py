"""tevoli-frames extract, run as the host runs it, on videos made on the spot."""
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

from frames_media import ffmpeg, gray_clock_video, pixel, read_image
from tevoli_harness import binary

NO_VIDEO = b"tevoli-frames: no video track (or unsupported container)\n"
EXTRACT_USAGE = b"tevoli-frames: usage: tevoli-frames extract <video> <outdir> <interval_secs>\n"


def frames(*args):
    return subprocess.run([binary("tevoli-frames"), *args], capture_output=True, timeout=240)


class ExtractTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="tevoli-frames-e2e-")
        cls.addClassCleanup(cls.dir.cleanup)
        cls.clock = os.path.join(cls.dir.name, "clock.mp4")
        gray_clock_video(cls.clock)

    def out(self, name):
        return os.path.join(self.dir.name, name)

    def assertOutcome(self, result, status, stdout, stderr=b""):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (status, stdout, stderr))

    def assertSucceeds(self, result, count):
        self.assertOutcome(result, 0, f"OK {count}\n".encode())

    def test_every_frame_lies_within_a_second_of_its_time(self):
        # Keyframes 4 s apart force decoding forward between them; the transport
        # stream copy has no index, so it is read straight through.
        ts = self.out("clock.ts")
        ffmpeg("-i", self.clock, "-c", "copy", ts)
        for video in (self.clock, ts):
            with self.subTest(video=video):
                outdir = self.out("tenths-" + os.path.basename(video))
                # 0.1 added up 100 times stays just below 10 s: 101 sampling times.
                self.assertSucceeds(frames("extract", video, outdir, "0.1"), 101)
                names = os.listdir(outdir)
                self.assertEqual(len(names), 101)
                self.assertIn("frame-799.jpg", names)
                self.assertNotIn("frame-800.jpg", names)
                for name in names:
                    t = int(name[len("frame-"):-len(".jpg")]) / 1000
                    second = (pixel(read_image(os.path.join(outdir, name)), 80, 60)[0] - 20 + 10) // 20
                    # Second n spans [n, n+1): it must meet [t-1, t+1].
                    self.assertTrue(t - 2 < second <= t + 1, f"{name} shows second {second}")

    def test_interval_longer_than_the_video_gives_frame_zero(self):
        # A colon in the path is part of the file name, not a protocol.
        video = self.out("http:clock.mp4")
        shutil.copy(self.clock, video)
        outdir = self.out("long-interval")
        self.assertSucceeds(frames("extract", video, outdir, "30", "ignored"), 1)
        self.assertEqual(os.listdir(outdir), ["frame-0.jpg"])
        width, height, _ = image = read_image(os.path.join(outdir, "frame-0.jpg"))
        self.assertEqual((width, height), (160, 120))
        self.assertLess(abs(pixel(image, 80, 60)[0] - 20), 6)

    def test_long_video_is_capped_at_720_frames(self):
        video = self.out("long.mp4")
        ffmpeg("-f", "lavfi", "-i", "color=c=gray:s=32x32:r=1:d=800", "-c:v", "libx264", "-g", "10",
               "-preset", "ultrafast", video)
        self.assertSucceeds(frames("extract", video, self.out("capped"), "1"), 720)
        names = os.listdir(self.out("capped"))
        self.assertEqual(len(names), 720)
        self.assertIn("frame-719000.jpg", names)

    def test_rotated_video_comes_out_upright(self):
        plain, rotated = self.out("plain.mp4"), self.out("rotated.mp4")
        ffmpeg("-filter_complex", "color=red:s=320x120:r=10:d=1[t];color=blue:s=320x120:r=10:d=1[b];[t][b]vstack",
               "-c:v", "libx264", "-pix_fmt", "yuv420p", plain)
        ffmpeg("-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", rotated)
        outdir = self.out("rotated")
        self.assertSucceeds(frames("extract", rotated, outdir, "1"), 1)
        image = read_image(os.path.join(outdir, "frame-0.jpg"))
        self.assertEqual(image[:2], (240, 320))
        # A quarter turn counter-clockwise: the red top is now on the left.
        self.assertGreater(pixel(image, 20, 160)[0], 200)
        self.assertGreater(pixel(image, 220, 160)[2], 200)

    def test_4k_video_is_scaled_to_fit_1920(self):
        video = self.out("uhd.mp4")
        ffmpeg("-f", "lavfi", "-i", "testsrc2=s=3840x2160:r=2:d=1", "-c:v", "libx264", "-preset", "ultrafast",
               "-pix_fmt", "yuv420p", video)
        self.assertSucceeds(frames("extract", video, self.out("uhd"), "10"), 1)
        self.assertEqual(read_image(self.out("uhd/frame-0.jpg"))[:2], (1920, 1080))

    def test_no_video_track_fails_but_leaves_the_directory(self):
        audio = self.out("tone.m4a")
        ffmpeg("-f", "lavfi", "-i", "sine=d=1", audio)
        for video in (audio, self.out("missing.mp4")):
            with self.subTest(video=video):
                outdir = self.out("none-" + os.path.basename(video)) + "/a/b"
                self.assertOutcome(frames("extract", video, outdir, "1"), 1, b"", NO_VIDEO)
                self.assertEqual(os.listdir(outdir), [])

    def test_damaged_video_counts_only_what_it_writes(self):
        faststart = self.out("faststart.mp4")
        ffmpeg("-f", "lavfi", "-i", "testsrc2=s=320x240:r=10:d=10", "-c:v", "libx264", "-g", "20",
               "-pix_fmt", "yuv420p", "-movflags", "+faststart", faststart)
        data = Path(faststart).read_bytes()
        middle = len(data) // 2
        for name, damaged in (("truncated.mp4", data[:middle]),
                              ("garbled.mp4", data[:middle] + os.urandom(4096) + data[middle + 4096:])):
            video = self.out(name)
            Path(video).write_bytes(damaged)
            with self.subTest(video=video):
                outdir = self.out("damaged-" + os.path.basename(video))
                result = frames("extract", video, outdir, "0.5")
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                written = len(os.listdir(outdir))
                self.assertEqual(result.stdout, f"OK {written}\n".encode())
                self.assertGreater(written, 0)

    def test_command_line_errors(self):
        cases = [
            ((), b"tevoli-frames: usage: tevoli-frames extract|ocr \xe2\x80\xa6\n"),
            (("extract", self.clock, self.out("x")), EXTRACT_USAGE),
            (("EXTRACT", self.clock, self.out("x"), "1"), b"tevoli-frames: unknown mode EXTRACT\n"),
        ] + [(("extract", self.clock, self.out("x"), bad), EXTRACT_USAGE) for bad in (" 1", "", "0", "-1", "nan")]
        for args, message in cases:
            with self.subTest(args=args):
                self.assertOutcome(frames(*args), 1, b"", message)


if __name__ == "__main__":
    unittest.main()
