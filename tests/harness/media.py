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


def synthesize_speech(text, path, rate=16000):
    """Speech with Festival's HTS US English voice, as a mono WAV at `rate`."""
    raw = path + ".festival.wav"
    text_file = path + ".txt"
    with open(text_file, "w") as f:
        f.write(text)
    try:
        subprocess.run(["text2wave", "-eval", "(voice_cmu_us_slt_arctic_hts)", "-o", raw, text_file],
                       check=True, capture_output=True)
        subprocess.run(["sox", raw, "-r", str(rate), "-c", "1", "-b", "16", path],
                       check=True, capture_output=True)
    finally:
        for leftover in (raw, text_file):
            if os.path.exists(leftover):
                os.remove(leftover)


def read_image(path):
    """(width, height, rgb bytes) of an image file."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    fields = data.split(maxsplit=4)  # P6, width, height, depth, pixels
    width, height = int(fields[1]), int(fields[2])
    return width, height, fields[4][-width * height * 3:]


def pixel(image, x, y):
    """The colour at (x, y) of an image read by read_image."""
    offset = (y * image[0] + x) * 3
    return tuple(image[2][offset:offset + 3])
