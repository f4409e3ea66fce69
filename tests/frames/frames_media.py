"""Videos and images for the frames tests, made on the spot with the ffmpeg
command-line tool and ImageMagick."""
import os
import subprocess

# Every frame of a coded video shows its own time as an 8x4 grid of black and
# white cells, big enough to survive the video codec, scaling and the JPEG
# encoder: 20 bits of centiseconds, then 12 check bits. The code is drawn one
# pixel a cell, then enlarged.
_COLUMNS, _ROWS, _TIME_BITS, _CHECK_BITS = 8, 4, 20, 12
CODE_SIZE = "128x64"
TIME_CODE = ("format=gray,geq=lum='st(0,round(T*100));st(1,X+8*Y);"
             "255*if(lt(ld(1),20),mod(floor(ld(0)/pow(2,ld(1))),2),"
             "mod(floor(mod(37*ld(0)+11,4096)/pow(2,ld(1)-20)),2))',"
             "scale=128:64:flags=neighbor")


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args], check=True)


def coded_video(path, rate, seconds, *encoding, shown="", inputs=()):
    """A video at `rate` frames a second whose frames show their time. `shown`
    filters the frames before they are coded (a select, a shift); `inputs` come
    first, such as an audio track."""
    chain = (shown + "," if shown else "") + TIME_CODE
    ffmpeg(*inputs, "-f", "lavfi", "-i", f"color=black:s={_COLUMNS}x{_ROWS}:r={rate}:d={seconds}", "-vf", chain,
           "-fps_mode", "vfr", *encoding, path)


def _times(gray):
    """Times shown by frames scaled to one 2x2 block per cell; None where the code does not check."""
    block = _COLUMNS * 2 * _ROWS * 2
    times = []
    for start in range(0, len(gray) - block + 1, block):
        pixels = gray[start:start + block]
        bits = []
        for cell in range(_COLUMNS * _ROWS):
            x, y = cell % _COLUMNS * 2, cell // _COLUMNS * 2
            level = sum(pixels[(y + dy) * _COLUMNS * 2 + x + dx] for dy in (0, 1) for dx in (0, 1)) / 4
            bits.append(level >= 128)
        value = sum(bit << n for n, bit in enumerate(bits[:_TIME_BITS]))
        check = sum(bit << n for n, bit in enumerate(bits[_TIME_BITS:]))
        times.append(value / 100 if check == (37 * value + 11) % (1 << _CHECK_BITS) else None)
    return times


def _gray_cells(*input_args):
    scale = f"scale={_COLUMNS * 2}:{_ROWS * 2}:flags=area"
    return subprocess.run(["ffmpeg", "-nostdin", "-v", "error", *input_args, "-fps_mode", "passthrough", "-vf",
                           scale, "-f", "rawvideo", "-pix_fmt", "gray", "-"], capture_output=True).stdout


def decodable_times(video):
    """The times of every frame of `video` that the ffmpeg tool decodes."""
    return [t for t in _times(_gray_cells("-i", video, "-map", "0:v:0")) if t is not None]


def shown_times(directory):
    """{file name: the time its frame shows, or None} for the JPEG files in `directory`."""
    names = sorted(os.listdir(directory))
    if not names:
        return {}
    gray = _gray_cells("-pattern_type", "glob", "-i", os.path.join(directory, "*.jpg"))
    return dict(zip(names, _times(gray)))


def probe(path, entry):
    """One value from ffprobe, e.g. probe(path, "format=duration")."""
    return subprocess.run(["ffprobe", "-v", "error", "-show_entries", entry, "-of", "csv=p=0", path],
                          check=True, capture_output=True, text=True).stdout.strip()


def zero_media_data(path):
    """Zeroes the payload of an MP4's media data box: the file still opens, no frame decodes."""
    with open(path, "r+b") as f:
        data = f.read()
        offset = 0
        while offset + 8 <= len(data):
            size, kind = int.from_bytes(data[offset:offset + 4], "big"), data[offset + 4:offset + 8]
            if kind == b"mdat":
                f.seek(offset + 8)
                f.write(bytes(size - 8))
                return
            offset += size
    raise ValueError(f"no media data in {path}")


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
