"""The speech tevoli-apple-asr is tuned on (the development set) and measured on (the
test set), made at run time from Debian's packages:

- meetings: the everyday meeting sentences of asr_sentences/dev.txt or test.txt, spoken
  by each of Festival's English voices (HTS slt, diphone kal and ked), one recording a
  voice with pauses of 0.7 to 1.3 s between sentences over the low noise of a quiet room;
- real recordings of pocketsphinx-testdata: for development the "cards" phrases and
  "go forward ten meters", for the test the LibriVox clips of a novel read aloud.

The two sets share no sentence and no recording.
"""
import os
import random
import re
import struct
import wave

from asr_client import read_wav_16k_mono, spoken_with_pauses
from media import VOICES, synthesize_sentences

HERE = os.path.dirname(os.path.abspath(__file__))
TESTDATA = "/usr/share/pocketsphinx/test/data"
LIBRIVOX = os.path.join(TESTDATA, "librivox")
PAUSES = [0.7, 1.0, 1.3, 0.9, 1.1]


class Recording:
    """One stream's audio with its reference words; `sentences` holds the ((first, end)
    sample, words) of each sentence where the recording is made of sentences."""

    def __init__(self, name, group, samples, words, sentences=()):
        self.name, self.group, self.samples, self.words = name, group, samples, words
        self.sentences = list(sentences)

    @property
    def seconds(self):
        return len(self.samples) / 16000


def words_of(text):
    """Words as the recogniser spells them: lower case, no alternative-pronunciation
    marks, no fillers."""
    return [re.sub(r"\(\d+\)$", "", w) for w in text.lower().split() if not w.startswith(("<", "[", "++"))]


def sentences(name):
    with open(os.path.join(HERE, "asr_sentences", name + ".txt")) as f:
        return [line.strip() for line in f if line.strip()]


def meetings(name, folder):
    recordings = []
    texts = sentences(name)
    for voice in VOICES:
        paths = synthesize_sentences(texts, folder, voice)
        samples, spans = spoken_with_pauses([read_wav_16k_mono(p) for p in paths], PAUSES)
        words = [w for text in texts for w in words_of(text)]
        recordings.append(Recording(f"meeting-{name}-{voice}", f"meetings ({voice})", samples, words,
                                    [(span, words_of(text)) for span, text in zip(spans, texts)]))
    return recordings


def transcribed(folder, transcription, group, audio_path):
    """The recordings of a pocketsphinx-testdata transcription file ("<s> words </s> (id)")."""
    recordings = []
    with open(transcription) as f:
        for line in f:
            match = re.match(r"(.*)\((.*)\)\s*$", line)
            if match:
                name = match.group(2)
                words = words_of(re.sub(r"</?s>", "", match.group(1)))
                recordings.append(Recording(name, group, read_wav_16k_mono(audio_path(name)), words))
    return recordings


def raw_as_wav(raw, folder):
    path = os.path.join(folder, os.path.basename(raw) + ".wav")
    with open(raw, "rb") as f, wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(16000)
        w.writeframes(f.read())
    return path


def development_set(folder):
    recordings = meetings("dev", folder)
    cards = os.path.join(TESTDATA, "cards")
    recordings += transcribed(folder, os.path.join(cards, "cards.transcription"), "cards",
                              lambda name: os.path.join(cards, name + ".wav"))
    recordings.append(Recording("goforward", "cards", read_wav_16k_mono(raw_as_wav(
        os.path.join(TESTDATA, "goforward.raw"), folder)), "go forward ten meters".split()))
    return recordings


def test_set(folder):
    return meetings("test", folder) + transcribed(folder, os.path.join(LIBRIVOX, "transcription"), "LibriVox",
                                                  lambda name: os.path.join(LIBRIVOX, name + ".wav"))


def one_stream(name, group, recordings, gaps, seed=1):
    """The recordings on one timeline as the host feeds one speaker's stream for a whole
    meeting: gaps[i % len(gaps)] seconds of a quiet room's noise (about -60 dBFS) before
    the i-th recording and after the last; each recording keeps its own background."""
    noisy = random.Random(seed)
    samples = []
    for i, recording in enumerate(recordings + [None]):
        samples += [noisy.gauss(0.0, 0.001) for _ in range(round(gaps[i % len(gaps)] * 16000))]
        if recording:
            samples += recording.samples
    return Recording(name, group, samples, [w for r in recordings for w in r.words])


# The orders and gaps of the one-stream feeds: the listed order with 1 s of noise, and
# orders and spacings from a fraction of a second to several seconds.
ONE_STREAM = [("listed order, 1 s", None, [1.0]), ("reversed, 0.3 s", "reversed", [0.3]),
              ("shuffled, 3 s", 1, [3.0]), ("shuffled, 0.3 to 3 s", 2, [0.3, 2.2, 0.8, 3.0, 1.5, 0.5]),
              ("shuffled, 0.7 s", 3, [0.7]), ("shuffled, 2.5 s", 4, [2.5])]


def one_stream_feeds(recordings, label):
    """The recordings on one stream in each way of ONE_STREAM."""
    feeds = []
    for i, (how, order, gaps) in enumerate(ONE_STREAM):
        ordered = list(recordings)
        if order == "reversed":
            ordered.reverse()
        elif order is not None:
            random.Random(order).shuffle(ordered)
        feeds.append(one_stream(f"{label}-one-stream-{i}", f"{label}, one stream, {how}", ordered, gaps, seed=i + 1))
    return feeds


def joined(name, group, recordings):
    """Recordings that carry their own pauses, one after another on one stream."""
    return Recording(name, group, [s for r in recordings for s in r.samples], [w for r in recordings for w in r.words])


def edit_distance(ref, hyp):
    row = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        prev, row[0] = row[0], i
        for j, h in enumerate(hyp, 1):
            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (r != h))
    return row[-1]


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(16000)
        w.writeframes(struct.pack(f"<{len(samples)}h", *(round(max(-1.0, min(1.0, s)) * 32767) for s in samples)))
