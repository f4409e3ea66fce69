"""tevoli-frames ocr, run as the host runs it, on images rendered on the spot."""
import json
import os
import tempfile
import unittest
from pathlib import Path

from frames_media import character_error_rate, text_image
from tevoli_harness import run

PARAGRAPH = [
    "Quarterly planning meeting with the design team.",
    "We agreed to ship the new onboarding flow in May,",
    "review the budget again on Thursday at 3 pm and",
    "move the customer interviews to the second week.",
]


class OcrTest(unittest.TestCase):
    def test_text_in_reading_order_for_each_image_and_empty_text_for_what_cannot_be_read(self):
        with tempfile.TemporaryDirectory(prefix="tevoli-ocr-e2e-") as work:
            paragraph, two_lines, odd, cut, not_image, blank = (os.path.join(work, name) for name in (
                "paragraph.png", "two-lines.png", 'a "quoted"\\back\tslash.png', "cut.png", "notes.png", "blank.png"))
            text_image(paragraph, PARAGRAPH)
            text_image(two_lines, ["Agenda for today", "Action items"], pointsize=48)
            text_image(odd, ["Caf\u00e9 r\u00e9sum\u00e9"], pointsize=64)
            Path(cut).write_bytes(Path(paragraph).read_bytes()[:2000])
            Path(not_image).write_text("just some text, not an image\n")
            text_image(blank, [])
            missing = os.path.join(work, "missing.png")
            paths = [paragraph, missing, two_lines, two_lines, odd, cut, not_image, work, blank]
            result = run("tevoli-frames", "ocr", *paths)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        lines = result.stdout.decode().split("\n")
        self.assertEqual(lines.pop(), "")
        records = [json.loads(line) for line in lines]
        self.assertEqual([list(r) for r in records], [["path", "text"]] * len(paths))
        self.assertEqual([r["path"] for r in records], paths)
        self.assertLessEqual(character_error_rate(records[0]["text"], " ".join(PARAGRAPH)), 0.02, records[0]["text"])
        self.assertEqual(records[0]["text"].count("\n"), len(PARAGRAPH) - 1)
        self.assertIn('"text":"Agenda for today\\nAction items"}', lines[2])
        self.assertEqual(lines[3], lines[2])
        # Paths are escaped, recognised text that is not ASCII comes out raw, not \u-escaped.
        self.assertEqual(lines[4], '{"path":%s,"text":"Caf\u00e9 r\u00e9sum\u00e9"}' % json.dumps(odd,
                                                                                              ensure_ascii=False))
        self.assertEqual([r["text"] for r in records[5:] + records[1:2]], [""] * 5)


if __name__ == "__main__":
    unittest.main()
