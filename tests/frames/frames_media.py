"""Videos and images for the frames tests, made on the spot with the ffmpeg
command-line tool and ImageMagick."""
import os
import subprocess


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args], check=True)


def gray_clock_video(path, seconds=10, rate=10, size="160x120", gop=40):
    """Each whole second is one flat gray level (second n has level 20 + 20 n),
    so a frame's level tells which second it came from."""
    inputs = ";".join(f"color=c=0x{20 + 20 * n:02x}{20 + 20 * n:02x}{20 + 20 * n:02x}:s={size}:r={rate}:d=1[s{n}]"
                      for n in range(seconds))
    chain = "".join(f"[s{n}]" for n in range(seconds))
    ffmpeg("-filter_complex", f"{inputs};{chain}concat=n={seconds}:v=1:a=0",
           "-c:v", "libx264", "-g", str(gop), "-bf", "2", "-pix_fmt", "yuv420p", path)


def read_image(path):
    """(width, height, rgb bytes) of an image file."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    fields = data.split(maxsplit=4)
    assert fields[0] == b"P6", fields[0]
    width, height = int(fields[1]), int(fields[2])
    return width, height, fields[4][-width * height * 3:]


def pixel(image, x, y):
    width, _, rgb = image
    offset = (y * width + x) * 3
    return tuple(rgb[offset:offset + 3])


def text_image(path, lines, size="1280x720", pointsize=36, font="DejaVu-Sans"):
    """Black text on white, one line of `lines` under the other."""
    args = ["convert", "-size", size, "xc:white", "-font", font, "-pointsize", str(pointsize), "-fill", "black"]
    for n, line in enumerate(lines):
        args += ["-annotate", f"+60+{100 + n * pointsize * 2}", line]
    subprocess.run(args + [path], check=True)


def character_error_rate(recognized, expected):
    """Edit distance over the expected length, white space collapsed."""
    a, b = " ".join(recognized.split()), " ".join(expected.split())
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        previous, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (ca != cb))
    return row[len(b)] / max(1, len(b))
