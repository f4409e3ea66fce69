"""Media made on the spot for tests, demos and benchmarks."""
import math
import os
import struct
import subprocess
import wave


def write_tone(path, seconds, frequency=440.0, rate=44100, channels=2, amplitude=0.5):
    """A sine tone as a 16-bit WAV file."""
    values = (int(amplitude * 32767 * math.sin(2 * math.pi * frequency * i / rate))
              for i in range(int(seconds * rate)))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", v) * channels for v in values))


# Festival's English voices as Debian packages them: the HTS voice, which PocketSphinx
# recognises almost word for word, and two older diphone voices it finds harder.
VOICES = {"slt": "voice_cmu_us_slt_arctic_hts", "kal": "voice_kal_diphone", "ked": "voice_ked_diphone"}


def synthesize_speech(text, path, rate=16000, voice="slt"):
    """Speech of `text` with one of Festival's voices, as a mono 16-bit WAV file at
    `rate`; sentences of the text are spoken with a pause between them."""
    _synthesize([text], [path], voice, rate)


def synthesize_sentences(sentences, folder, voice="slt", rate=16000):
    """Speech of each sentence, as synthesize_speech makes it, in `folder`; one Festival
    process for them all. Returns the paths."""
    paths = [os.path.join(folder, f"{voice}-{i}.wav") for i in range(len(sentences))]
    _synthesize(sentences, paths, voice, rate)
    return paths


def _synthesize(texts, paths, voice, rate):
    script = [f"({VOICES[voice]})"]
    for text, path in zip(texts, paths):
        text = text.replace("\\", " ").replace('"', " ")
        script.append(f'(utt.save.wave (utt.synth (Utterance Text "{text}")) "{path}.wav" (quote riff))')
    subprocess.run(["festival", "--pipe"], input="\n".join(script), text=True, check=True,
                   capture_output=True)
    for path in paths:
        raw = path + ".wav"  # as Festival made it
        subprocess.run(["sox", "-D", raw, "-r", str(rate), "-c", "1", "-b", "16", path], check=True,
                       capture_output=True)
        os.remove(raw)


def read_image(path):
    """(width, height, rgb bytes) of an image file."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    fields = data.split(maxsplit=3)  # P6, width, height, then the rest
    width, height = int(fields[1]), int(fields[2])
    # The pixels end the output; a first pixel byte that reads as white space belongs to them.
    return width, height, data[-width * height * 3:]


def pixel(image, x, y):
    """The colour at (x, y) of an image read by read_image."""
    offset = (y * image[0] + x) * 3
    return tuple(image[2][offset:offset + 3])
