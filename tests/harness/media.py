"""Media made on the spot for tests, demos and benchmarks."""
import math
import os
import struct
import subprocess
import wave


def write_tone(path, seconds, frequency=440.0, rate=44100, channels=2, amplitude=0.5):
    """A sine tone as a 16-bit WAV file."""
    frames = int(seconds * rate)
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        data = bytearray()
        for i in range(frames):
            v = int(amplitude * 32767 * math.sin(2 * math.pi * frequency * i / rate))
            data += struct.pack("<h", v) * channels
        w.writeframes(bytes(data))


# Festival's English voices as Debian packages them: the HTS voice, which PocketSphinx
# recognises almost word for word, and two older diphone voices it finds harder.
VOICES = {"slt": "voice_cmu_us_slt_arctic_hts", "kal": "voice_kal_diphone", "ked": "voice_ked_diphone"}


def synthesize_sentences(sentences, folder, voice="slt", rate=16000):
    """Speech of each sentence with one of Festival's voices, as mono 16-bit WAV files
    at `rate` in `folder`; one Festival process for them all. Returns the paths."""
    script = [f"({VOICES[voice]})"]
    raws, paths = [], []
    for i, sentence in enumerate(sentences):
        raw = os.path.join(folder, f"{voice}-{i}.festival.wav")
        text = sentence.replace("\\", " ").replace('"', " ")
        script.append(f'(utt.save.wave (utt.synth (Utterance Text "{text}")) "{raw}" \'riff)')
        raws.append(raw)
        paths.append(os.path.join(folder, f"{voice}-{i}.wav"))
    script_file = os.path.join(folder, f"{voice}.scm")
    with open(script_file, "w") as f:
        f.write("\n".join(script) + "\n")
    try:
        subprocess.run(["festival", "--batch", script_file], check=True, capture_output=True)
        for raw, path in zip(raws, paths):
            subprocess.run(["sox", "-D", raw, "-r", str(rate), "-c", "1", "-b", "16", path], check=True, capture_output=True)
    finally:
        for leftover in [script_file, *raws]:
            if os.path.exists(leftover):
                os.remove(leftover)
    return paths


def synthesize_speech(text, path, rate=16000, voice="slt"):
    """Speech of `text` with one of Festival's voices, as a mono WAV file at `rate`;
    sentences of the text are spoken with a pause between them."""
    raw = path + ".festival.wav"
    text_file = path + ".txt"
    with open(text_file, "w") as f:
        f.write(text)
    try:
        subprocess.run(["text2wave", "-eval", f"({VOICES[voice]})", "-o", raw, text_file],
                       check=True, capture_output=True)
        subprocess.run(["sox", "-D", raw, "-r", str(rate), "-c", "1", "-b", "16", path],
                       check=True, capture_output=True)
    finally:
        for leftover in (raw, text_file):
            if os.path.exists(leftover):
                os.remove(leftover)


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
