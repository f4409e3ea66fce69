"""tevoli-frames ocr, run as the host runs it, on images rendered on the spot."""
import json
import os
import subprocess
import tempfile
import unittest

from frames_media import character_error_rate, text_image
from tevoli_harness import binary

PARAGRAPH = [
    "Quarterly planning meeting with the design team.",
    "We agreed to ship the new onboarding flow in May,",
    "review the budget again on Thursday at 3 pm and",
    "move the customer interviews to the second week.",
]


def ocr(*paths):
    return subprocess.run([binary("tevoli-frames"), "ocr", *paths], capture_output=True, timeout=240)


class OcrTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="tevoli-ocr-e2e-")
        cls.addClassCleanup(cls.tmp.cleanup)
        cls.dir = cls.tmp.name
        cls.paragraph = os.path.join(cls.dir, "paragraph.png")
        text_image(cls.paragraph, PARAGRAPH)
        cls.two_lines = os.path.join(cls.dir, "two-lines.png")
        text_image(cls.two_lines, ["Agenda for today", "Action items"], pointsize=48)

    def lines(self, *paths):
        result = ocr(*paths)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertTrue(result.stdout.endswith(b"\n"))
        return result.stdout.decode().split("\n")[:-1]

    def test_clean_text_in_reading_order_and_missing_files_in_between(self):
        missing = os.path.join(self.dir, "missing.png")
        lines = self.lines(self.paragraph, missing, self.two_lines, self.two_lines)
        self.assertEqual(len(lines), 4)
        records = [json.loads(line) for line in lines]
        self.assertEqual([list(r) for r in records], [["path", "text"]] * 4)
        self.assertEqual([r["path"] for r in records], [self.paragraph, missing, self.two_lines, self.two_lines])
        rate = character_error_rate(records[0]["text"], " ".join(PARAGRAPH))
        self.assertLessEqual(rate, 0.02, records[0]["text"])
        self.assertEqual(records[0]["text"].count("\n"), len(PARAGRAPH) - 1)
        self.assertEqual(records[1]["text"], "")
        self.assertIn('"text":"Agenda for today\\nAction items"}', lines[2])
        self.assertEqual(lines[3], lines[2])

    def test_paths_are_escaped_and_non_ascii_text_is_raw_utf8(self):
        odd = os.path.join(self.dir, 'a "quoted"\\back\tslash.png')
        text_image(odd, ["Caf\u00e9 r\u00e9sum\u00e9"], pointsize=64)
        [line] = self.lines(odd)
        self.assertTrue(line.startswith('{"path":' + json.dumps(odd, ensure_ascii=False) + ',"text":'), line)
        self.assertTrue(line.endswith('"text":"Caf\u00e9 r\u00e9sum\u00e9"}'), line)  # raw, not \u-escaped

    def test_unreadable_images_give_empty_text(self):
        truncated, not_image, blank = (os.path.join(self.dir, name) for name in ("cut.png", "notes.png", "blank.png"))
        with open(self.paragraph, "rb") as source, open(truncated, "wb") as target:
            target.write(source.read()[:2000])
        with open(not_image, "w") as target:
            target.write("just some text, not an image\n")
        subprocess.run(["convert", "-size", "320x240", "xc:white", blank], check=True)
        lines = self.lines(truncated, not_image, self.dir, blank)
        self.assertEqual([json.loads(line)["text"] for line in lines], [""] * 4)

    def test_no_image_is_a_usage_error(self):
        result = ocr()
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (1, b"", "tevoli-frames: usage: tevoli-frames ocr <image> [<image>\u2026]\n".encode()))


if __name__ == "__main__":
    unittest.main()
