"""The transcription server as the host drives it: JSON lines through pipes, real
recognition of synthesized speech."""
import re
import tempfile
import unittest

from asr_client import RATE, AsrServer, pcm, read_wav_16k_mono, spoken_with_pauses
from media import synthesize_sentences

ROOM = ["good morning everyone", "let me share my screen", "that sounds good to me"]
ALICE = ["please send me the report tomorrow morning", "can we move this meeting to thursday afternoon",
         "the customer asked for a demo next week"]


def recall(said, heard):
    said = set(said.split())
    return len(said & set(heard.split())) / len(said)


def chunks(stream, samples, start_ms, chunk_ms, gap_ms=0):
    """(ms into the recording, stream, offset, samples) of its chunks, `gap_ms` of the host's
    timeline left out after every second one."""
    step = chunk_ms * RATE // 1000
    return [(i * chunk_ms, stream, start_ms + i * chunk_ms + i // 2 * gap_ms, samples[at:at + step])
            for i, at in enumerate(range(0, len(samples), step))]


class Recognition(unittest.TestCase):
    def test_two_live_streams_come_back_as_said_where_said_and_none_bridges_a_jump(self):
        with tempfile.TemporaryDirectory() as folder:
            spoken = [read_wav_16k_mono(p) for p in synthesize_sentences(ROOM + ALICE, folder)]
        room, spans = spoken_with_pauses(spoken[:3], [0.8], seed=3)
        alice, _ = spoken_with_pauses(spoken[3:], [0.8], seed=4)
        fed = {"room": [], "alice": []}
        with AsrServer() as server:
            for stream in fed:  # in a locale the machine lacks: it falls back to one it has
                self.assertTrue(server.request(op="begin", stream=stream, locale="fr_FR")["ok"])
            # Fed together as a host feeds two live recordings: the room in contiguous 200 ms
            # chunks from 60 s on, alice in 1 s chunks with 250 ms jumps in the timeline.
            for _, stream, offset, samples in sorted(chunks("room", room, 60000, 200) +
                                                     chunks("alice", alice, 0, 1000, gap_ms=250)):
                reply = server.request(op="feed", stream=stream, pcm=pcm(samples), offset_ms=offset)
                fed[stream] += reply["segments"]
            # Recognition may lag the feeding on a busy machine; empty chunks wait for it.
            for _ in range(60):
                if len(fed["room"]) >= 3:
                    break
                fed["room"] += server.request(op="feed", stream="room", pcm="")["segments"]
            finished = server.request(op="finish")["segments"]
            # Input that ends with a stream still open ends the server quietly.
            server.request(op="begin")
            server.request(op="feed", pcm=pcm(alice[:32000]))
            self.assertEqual(server.close(), (0, b"", b""))
        self.assertTrue(all("speaker" not in s for s in fed["room"] + fed["alice"]))
        self.assertEqual([s["speaker"] for s in finished], ["alice"] * len(finished))
        self.assertEqual(len(fed["room"]), 3, fed["room"])
        for seg, (first, end), sentence in zip(fed["room"], spans, ROOM):
            # Where the sentence was on the timeline, give or take the edges of its words.
            self.assertGreaterEqual(seg["t0_ms"], 60000 + first // 16 - 100, seg)
            self.assertLessEqual(seg["t1_ms"], 60000 + end // 16 + 100, seg)
            self.assertGreater(recall(sentence, seg["text"]), 0.6, seg)
        heard = fed["alice"] + finished
        for seg in heard:  # within one run of two chunks
            self.assertLessEqual(seg["t1_ms"], seg["t0_ms"] // 2250 * 2250 + 2000, seg)
        self.assertGreater(recall(" ".join(ALICE), " ".join(s["text"] for s in heard)), 0.5, heard)


class Framing(unittest.TestCase):
    def test_over_long_lines_are_read_without_being_kept_and_blank_ones_get_no_reply(self):
        pieces = [b'{"op":"feed","pcm":"'] + [b"A" * (1 << 20)] * 200 + [b'"}\n']  # 25 times the limit
        pieces += [b" " * (1 << 20)] * 200 + [b'\n{"op":"Status"}\n']
        with AsrServer() as server:
            server.send(pieces)  # its two short replies wait in the pipe
            replies = [server.stdout.readline() for _ in range(2)]
            with open(f"/proc/{server.pid}/status") as status:
                peak_kb = int(re.search(r"VmHWM:\s*(\d+)", status.read()).group(1))
            ended = server.close()
        self.assertEqual(replies, [b'{"ok":false,"error":"bad request"}\n',
                                   b'{"ok":false,"error":"unknown op: Status"}\n'])
        self.assertEqual(ended, (0, b"", b""))
        self.assertLess(peak_kb, 64 << 10)


if __name__ == "__main__":
    unittest.main()
