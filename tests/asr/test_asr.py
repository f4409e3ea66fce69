"""The transcription server as the host drives it: JSON lines through pipes,
real recognition of recorded and synthesized speech."""
import os
import re
import tempfile
import unittest

from asr_client import AsrServer, read_wav_16k_mono
from media import synthesize_speech

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


class Protocol(unittest.TestCase):
    def test_one_reply_line_per_request_line_in_order(self):
        lines = [
            ("  \t", None),
            ("\r", None),
            ('{"op":"status"}\r', '{"ok":true,"available":true}'),
            ("not json", '{"ok":false,"error":"bad request"}'),
            ('{"op":"begin","stream":"default","locale":"fr_FR"}', '{"ok":true,"downloaded":false}'),
            ('{"op":"begin","stream":"uk","locale":"en-GB"}', '{"ok":true,"downloaded":false}'),
            ('{"op":"feed","pcm":"AAAAAAAAAA==","offset_ms":1e3}', '{"ok":true,"segments":[]}'),
            ('{"op":"finish"}', '{"ok":true,"segments":[]}'),
            ('{"op":"feed","stream":"uk","pcm":""}', '{"ok":false,"error":"feed before begin for stream \\"uk\\""}'),
        ]
        # Everything written at once, the last line without its line feed: the replies
        # still come one per line, in order.
        with AsrServer() as server:
            server.send_line("\n".join(line for line, _ in lines))
            status, out, err = server.close()
        self.assertEqual((status, out.decode(), err), (0, "".join(reply + "\n" for _, reply in lines if reply), b""))


class Recognition(unittest.TestCase):
    def assert_times_inside(self, segments, chunks):
        for seg in segments:
            self.assertLessEqual(seg["t0_ms"], seg["t1_ms"], seg)
            for t in (seg["t0_ms"], seg["t1_ms"]):
                self.assertTrue(any(a <= t <= b for a, b in chunks), f"{t} outside {chunks}")

    def test_recorded_speech_with_gaps_between_chunks(self):
        samples, reference = librivox("0870")
        with AsrServer() as server:
            server.request(op="begin", stream="room")
            fed, chunks = server.feed_samples(samples, stream="room", start_ms=5000, gap_ms=250)
            finished = server.request(op="finish", stream="room")["segments"]
            status, _, err = server.close()
        self.assertEqual((status, err), (0, b""))
        self.assertTrue(all("speaker" not in s for s in fed))
        self.assertTrue(all(s["speaker"] == "room" for s in finished))
        segments = fed + finished
        self.assertGreater(recall(reference, words_of(segments)), 0.6, segments)
        for word in ("john", "consider", "power"):
            self.assertIn(word, words_of(segments))
        self.assert_times_inside(segments, chunks)
        # Speech starts 150 ms into the clip, in the first chunk.
        self.assertLess(segments[0]["t0_ms"], 5500)

    def test_synthesized_sentences_come_back_as_separate_timed_segments(self):
        sentences = ["the weather is nice today", "please send me the report tomorrow morning"]
        with tempfile.TemporaryDirectory() as folder:
            samples = []
            for i, sentence in enumerate(sentences):
                path = os.path.join(folder, f"{i}.wav")
                synthesize_speech(sentence, path)
                samples += read_wav_16k_mono(path) + [0.0] * 24000
        with AsrServer() as server:
            server.request(op="begin")
            fed, chunks = server.feed_samples(samples)
            finished = server.request(op="finish")["segments"]
            server.close()
        segments = fed + finished
        self.assertGreaterEqual(len(segments), 2, segments)
        for sentence in sentences:
            self.assertGreater(recall(sentence.split(), words_of(segments)), 0.7, segments)
        self.assert_times_inside(segments, chunks)
        starts = [s["t0_ms"] for s in segments]
        self.assertEqual(starts, sorted(starts))

    def test_finish_without_a_name_closes_every_stream(self):
        a, reference_a = librivox("0880")
        b, reference_b = librivox("0930")
        with AsrServer() as server:
            server.request(op="begin", stream="alice")
            server.request(op="begin", stream="bob")
            segments = []
            for at in range(0, max(len(a), len(b)), 16000):
                for name, samples in (("alice", a), ("bob", b)):
                    if at < len(samples):
                        segs, _ = server.feed_samples(samples[at:at + 16000], stream=name, start_ms=at // 16)
                        segments += [dict(s, speaker=name) for s in segs]
            segments += server.request(op="finish")["segments"]
            self.assertEqual(server.request(op="feed", stream="bob", pcm="")["error"],
                             'feed before begin for stream "bob"')
            server.close()
        by = {name: [s for s in segments if s["speaker"] == name] for name in ("alice", "bob")}
        self.assertGreater(recall(reference_a, words_of(by["alice"])), 0.5, segments)
        self.assertGreater(recall(reference_b, words_of(by["bob"])), 0.5, segments)

    def test_end_of_input_ends_the_server_silently_also_with_open_streams(self):
        samples, _ = librivox("0890")
        with AsrServer() as idle, AsrServer() as busy:
            busy.request(op="begin")
            busy.feed_samples(samples[:32000])
            self.assertEqual(idle.close(), (0, b"", b""))
            self.assertEqual(busy.close(), (0, b"", b""))


if __name__ == "__main__":
    unittest.main()
