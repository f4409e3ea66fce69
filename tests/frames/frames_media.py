"""Videos and images for the frames tests, made on the spot with ffmpeg and ImageMagick."""
import os
import subprocess

# Every frame of a coded video shows its own time as an 8x4 grid of black and white
# cells, big enough to survive the codec, scaling and JPEG: 20 bits of centiseconds,
# then 12 check bits, drawn one pixel a cell and then enlarged.
_COLUMNS, _ROWS, _TIME_BITS, _CHECK_BITS = 8, 4, 20, 12
CODE_SIZE = "128x64"
TIME_CODE = ("format=gray,geq=lum='st(0,round(T*100));st(1,X+8*Y);"
             "255*if(lt(ld(1),20),mod(floor(ld(0)/pow(2,ld(1))),2),"
             "mod(floor(mod(37*ld(0)+11,4096)/pow(2,ld(1)-20)),2))'")


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args], check=True)


def coded_video(path, rate, seconds, *encoding, shown="", inputs=(), size=CODE_SIZE, pixel_aspect="1"):
    """Frames that show their time; `shown` filters them before coding, `inputs` come first."""
    chain = ((shown + "," if shown else "") + TIME_CODE +
             ",scale=%s:flags=neighbor,setsar=%s" % (size.replace("x", ":"), pixel_aspect))
    ffmpeg(*inputs, "-f", "lavfi", "-i", f"color=black:s={_COLUMNS}x{_ROWS}:r={rate}:d={seconds}", "-vf", chain,
           "-fps_mode", "vfr", *encoding, path)


def _times(*input_args):
    """The time each decoded frame shows, None where its code does not check."""
    cells = _COLUMNS * _ROWS
    gray = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", *input_args, "-fps_mode", "passthrough",
                           "-vf", f"scale={_COLUMNS}:{_ROWS}:flags=area", "-f", "rawvideo",
                           "-pix_fmt", "gray", "-"], capture_output=True).stdout
    times = []
    for start in range(0, len(gray) - cells + 1, cells):
        bits = [level >= 128 for level in gray[start:start + cells]]
        value = sum(bit << n for n, bit in enumerate(bits[:_TIME_BITS]))
        check = sum(bit << n for n, bit in enumerate(bits[_TIME_BITS:]))
        times.append(value / 100 if check == (37 * value + 11) % (1 << _CHECK_BITS) else None)
    return times


def decodable_times(video):
    return [t for t in _times("-i", video, "-map", "0:v:0") if t is not None]


def shown_times(directory):
    """{file name: the time its frame shows, or None} for the JPEG files in `directory`."""
    names = sorted(os.listdir(directory))
    glob = ["-pattern_type", "glob", "-i", os.path.join(directory, "*.jpg")]
    return dict(zip(names, _times(*glob))) if names else {}


def text_image(path, lines, size="1280x720", pointsize=36, font="DejaVu-Sans"):
    """Black text on white, one line under the other."""
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
