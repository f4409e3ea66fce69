"""The transcription server as the host drives it: JSON lines through pipes,
real recognition of recorded and synthesized speech."""
import os
import re
import tempfile
import threading
import unittest

from asr_client import AsrServer, read_wav_16k_mono, spoken_with_pauses
from media import synthesize_sentences

LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"


def librivox(clip):
    """A LibriVox clip's samples and its reference words."""
    name = f"sense_and_sensibility_01_austen_64kb-{clip}"
    with open(os.path.join(LIBRIVOX, "transcription")) as f:
        for line in f:
            if f"({name})" in line:
                words = re.sub(r"</?s>|\(.*\)", "", line).split()
                return read_wav_16k_mono(os.path.join(LIBRIVOX, name + ".wav")), words
    raise KeyError(clip)


def words_of(segments):
    return " ".join(s["text"] for s in segments).split()


def recall(reference, heard):
    """Share of the reference words that were heard, each counted at most as often as said."""
    pool = list(heard)
    found = 0
    for word in reference:
        if word in pool:
            pool.remove(word)
            found += 1
    return found / len(reference)


class Recognition(unittest.TestCase):
    SENTENCES = ["good morning everyone", "let me share my screen", "that sounds good to me",
                 "the weather is nice today", "please send me the report tomorrow morning",
                 "can we move this meeting to thursday afternoon", "we need more time to test the new version",
                 "the customer asked for a demo next week"]

    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as folder:
            cls.spoken = [read_wav_16k_mono(p) for p in synthesize_sentences(cls.SENTENCES, folder)]

    def feed_until_segments(self, server, polls=60):
        """Empty chunks, which only wait for recognition to settle, until a reply
        carries segments."""
        for _ in range(polls):
            segments = server.request(op="feed", pcm="")["segments"]
            if segments:
                return segments
        self.fail("no segment came")

    def test_sentences_with_pauses_come_back_one_segment_each_while_fed(self):
        # Three sentences with pauses over a quiet room's noise, fed as a host feeds a
        # live recording: contiguous 200 ms chunks.
        samples, spans = spoken_with_pauses(self.spoken[:3], [0.8], seed=3)
        with AsrServer() as server:
            server.request(op="begin")
            fed, _ = server.feed_samples(samples, chunk_ms=200, start_ms=60000)
            # Recognition may lag the feeding on a busy machine; empty chunks wait for it.
            while len(fed) < 3:
                fed += self.feed_until_segments(server)
            finished = server.request(op="finish")["segments"]
            status, _, err = server.close()
        self.assertEqual((status, err, len(fed), finished), (0, b"", 3, []), fed)
        for seg, (first, end), sentence in zip(fed, spans, self.SENTENCES):
            # Where the sentence was on the timeline, give or take the edges of its words.
            self.assertGreaterEqual(seg["t0_ms"], 60000 + first // 16 - 100, seg)
            self.assertLessEqual(seg["t1_ms"], 60000 + end // 16 + 100, seg)
            self.assertGreater(recall(sentence.split(), seg["text"].split()), 0.6, seg)

    def test_streams_finish_together_no_segment_bridges_a_gap_and_the_end_of_input_ends_quietly(self):
        room, room_words = librivox("0870")
        alice, alice_words = librivox("0880")
        with AsrServer() as server, AsrServer() as idle:
            # Locales the machine lacks fall back to one it has.
            for stream, locale in (("room", "fr_FR"), ("alice", "en-GB")):
                self.assertEqual(server.request(op="begin", stream=stream, locale=locale),
                                 {"ok": True, "downloaded": False})
            # Runs of two 1 s chunks, 250 ms of timeline left out between runs.
            fed, chunks = server.feed_samples(room, stream="room", start_ms=5000, gap_ms=250, gap_every=2)
            fed_alice, _ = server.feed_samples(alice, stream="alice")
            finished = server.request(op="finish")["segments"]
            self.assertEqual(server.request(op="feed", stream="alice", pcm="")["error"],
                             'feed before begin for stream "alice"')
            # Input that ends with a stream still open, or none begun, ends the server quietly.
            server.request(op="begin")
            server.feed_samples(alice[:32000])
            self.assertEqual((server.close(), idle.close()), ((0, b"", b""), (0, b"", b"")))
        self.assertTrue(all("speaker" not in s for s in fed + fed_alice))
        room_segments = fed + [s for s in finished if s["speaker"] == "room"]
        alice_segments = fed_alice + [s for s in finished if s["speaker"] == "alice"]
        self.assertEqual(len(room_segments) + len(alice_segments), len(fed + fed_alice + finished))
        runs = [(chunks[i][0], chunks[min(i + 1, len(chunks) - 1)][1]) for i in range(0, len(chunks), 2)]
        for seg in room_segments:
            self.assertTrue(any(a <= seg["t0_ms"] <= seg["t1_ms"] <= b for a, b in runs), f"{seg} not in one of {runs}")
        self.assertGreater(recall(room_words, words_of(room_segments)), 0.4, room_segments)
        self.assertGreater(recall(alice_words, words_of(alice_segments)), 0.5, alice_segments)
        # Speech starts 150 ms into the clip, in the first chunk.
        self.assertLess(room_segments[0]["t0_ms"], 5500)


class Framing(unittest.TestCase):
    def test_over_long_lines_are_read_without_being_kept_and_blank_ones_get_no_reply(self):
        pieces = [b'{"op":"feed","pcm":"'] + [b"A" * (1 << 20)] * 200 + [b'"}\n']  # 25 times the limit
        pieces += [b" " * (1 << 20)] * 200 + [b'\n{"op":"Status"}\n']
        with AsrServer() as server:
            writer = threading.Thread(target=server.send, args=(pieces,))
            writer.start()
            replies = [server.proc.stdout.readline() for _ in range(2)]
            writer.join()
            with open(f"/proc/{server.proc.pid}/status") as status:
                peak_kb = int(re.search(r"VmHWM:\s*(\d+)", status.read()).group(1))
            ended = server.close()
        self.assertEqual(replies, [b'{"ok":false,"error":"bad request"}\n',
                                   b'{"ok":false,"error":"unknown op: Status"}\n'])
        self.assertEqual(ended, (0, b"", b""))
        self.assertLess(peak_kb, 64 << 10)


if __name__ == "__main__":
    unittest.main()
