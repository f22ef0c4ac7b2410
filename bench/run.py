#!/usr/bin/env python3
"""Benchmark: the whole tessera process (start, read, write, end) against the
floor, `cp` of the same "vantrel.tmp", and against the script a user would
otherwise write, a short Python program with Pillow.

    bench/run.py [--program build/tessera] [--palette-program build/tessera-palette]
                 [--decode-time build/decode_time] [--runs 200]
                 [--frm-program build/tessera-frm [--frm-runs 5] [--frm-only]]

For each bitmap it makes, the three commands run in turn, alternating, in the
same directory; the table gives the median wall time of each, the ratios, and
tessera's peak resident memory against what the program may hold (the pixel
block, and for a compressed picture the stream beside it) plus 2 MiB. The last
lines compare the same drawn picture compressed with RLE8, saved as an
indexed PNG, saved by Pillow as GIF, RLE TGA, PCX, LZW TIFF and deflate
TIFF, and saved as an RLE Photoshop document and a ByteRun1 ILBM, with it
uncompressed, and a noisy picture saved by Pillow as GIF with it
uncompressed, each pair converted in turn; then Pillow's decoding of the
noisy GIF inside a running process beside tessera's reader in one
(decode_time); then tessera-palette's check of the uncompressed one against
a 256-colour palette with tessera's conversion of it; then remap of the
drawn picture saved as a full-colour PNG against tessera's conversion of its
indexed PNG, and remap --nearest of a 640 × 480 photograph-like picture
against 256 colours; and at the end the time and peak memory of the stops
for two files of a few bytes that announce pictures of gigabytes.
With --frm-program, a last table times tessera-frm: make of 1,200 frames of
80 × 100 in six directions of 200, from indexed PNGs and from bitmaps in a
folder, against reading every input and writing the output (the floor: one
`cat` of every input into a file, one of the FRM into another) and a Pillow
script doing the same job in one process; explode of the result
against a Pillow script writing the same PNGs and frames.txt; info of it; and
make's and info's peak memory against what they may hold.
It prints figures and judges nothing: a busy machine gives slower figures,
not a failure.
"""

import argparse
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

SIZES = [(64, 64), (640, 480), (4096, 4096), (1, 65535), (65535, 1)]

# The conversion as a user would write it with Pillow: decode the bitmap,
# take its palette indices top to bottom, write the header and the pixels.
PILLOW_SCRIPT = r"""
import struct, sys
from PIL import Image
image = Image.open("vantrel.tmp")
width, height = image.size
header = struct.pack(">IHHH12x12x24xIHHIHH", 4, 0, 0, 1, width * height + 12, width, height, width * height, 0, 0)
with open(sys.argv[1].split("\\")[-1].split(".")[0] + ".frm", "wb") as out:
    out.write(header + image.tobytes())
"""


def bitmap(width, height, rows=None, stream=None):
    """An 8-bit bitmap of `rows` (top to bottom), or with an RLE8 `stream`."""
    stride = (width + 3) // 4 * 4
    if rows is None:
        rows = [bytes(x & 0xFF for x in range(width))] * height
    pixels = stream if stream is not None else b"".join(row.ljust(stride, b"\0") for row in reversed(rows))
    palette = bytes(range(256)) * 4
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0 if stream is None else 1, len(pixels), 2835, 2835,
                       256, 0)
    offset = 14 + len(info) + len(palette)
    return struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + info + palette + pixels


def drawn_picture(width, height):
    """Flat areas as drawn art has them: sky, ground, a sun, houses with
    windows, an outlined road; each area one palette index."""
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            index = 10 + y * 6 // height if y < height * 3 // 5 else 40
            if (x - width * 4 // 5) ** 2 + (y - height // 5) ** 2 < (height // 10) ** 2:
                index = 60
            house = x % 160
            if 20 <= house < 120 and height * 2 // 5 <= y < height * 3 // 5:
                index = 80 + x // 160
                if 40 <= house < 60 and height // 2 <= y < height // 2 + 20:
                    index = 100
            if abs(y - height * 4 // 5 - (x - width // 2) // 8) < 12:
                index = 120 if abs(y - height * 4 // 5 - (x - width // 2) // 8) < 10 else 121
            row.append(index)
        rows.append(bytes(row))
    return rows


def noisy_picture(width, height):
    """Runs of 1 to 39 pixels of one random index, and every third pixel of
    every seventh row random: hard for LZW."""
    draw, rows = random.Random(29), []
    for y in range(height):
        row = bytearray()
        while len(row) < width:
            row += bytes([draw.randrange(256)]) * draw.randint(1, 39)
        row = row[:width]
        for x in range(0, width if y % 7 == 0 else 0, 3):
            row[x] = draw.randrange(256)
        rows.append(bytes(row))
    return rows


# Opens and decodes the GIF read from standard input again and again inside
# one process; prints the median time in milliseconds.
PILLOW_DECODE = r"""
import io, statistics, sys, time
from PIL import Image
data, times = sys.stdin.buffer.read(), []
for _ in range(int(sys.argv[1])):
    start = time.perf_counter()
    Image.open(io.BytesIO(data)).load()
    times.append(time.perf_counter() - start)
print(statistics.median(times) * 1000)
"""


def rle8(rows):
    """The rows as an RLE8 stream, bottom row first: runs where pixels repeat,
    literals between them, an end of line after each row."""
    stream = bytearray()
    for row in reversed(rows):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and run < 255 and row[x + run] == row[x]:
                run += 1
            if run >= 3:
                stream += bytes([run, row[x]])
                x += run
                continue
            start = x
            while x < len(row) and x - start < 255 and row[x:x + 3] != bytes([row[x]]) * 3:
                x += 1
            literal = row[start:x]
            if len(literal) < 3:
                stream += b"".join(bytes([1, index]) for index in literal)
            else:
                stream += bytes([0, len(literal)]) + literal + bytes(len(literal) % 2)
        stream += b"\0\0"
    return bytes(stream) + b"\0\1"


def indexed_png(width, height, rows):
    """An 8-bit indexed PNG of `rows`, as art tools save one: each row
    filtered with Up when it helps, the zlib stream in IDAT chunks of 8 KiB."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw, prior = bytearray(), bytes(width)
    for row in rows:
        up = bytes((x - p) & 0xFF for x, p in zip(row, prior))
        raw += b"\2" + up if up.count(0) > row.count(row[0]) else b"\0" + row
        prior = row
    stream = zlib.compress(bytes(raw), 9)
    idat = b"".join(chunk(b"IDAT", stream[at:at + 8192]) for at in range(0, len(stream), 8192))
    header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", bytes(range(256)) * 3) + idat +
            chunk(b"IEND", b""))


def packbits(data):
    """PackBits, PSD's RLE and ILBM's ByteRun1: repeats of two or more as
    runs, literals of up to 128 bytes between them."""
    out, at = bytearray(), 0
    while at < len(data):
        run = 1
        while run < 128 and at + run < len(data) and data[at + run] == data[at]:
            run += 1
        if run > 1:
            out += bytes([257 - run, data[at]])
            at += run
            continue
        end = at + 1
        while end < len(data) and end - at < 128 and not (end + 1 < len(data) and data[end] == data[end + 1]):
            end += 1
        out += bytes([end - at - 1]) + data[at:end]
        at = end
    return bytes(out)


def rle_psd(width, height, rows):
    """An indexed Photoshop document of `rows`, RLE, as Photoshop saves one."""
    packed = [packbits(row) for row in rows]
    return (struct.pack(">4sH6xHIIHHI", b"8BPS", 1, 1, height, width, 8, 2, 768) + bytes(range(256)) * 3 +
            bytes(8) + b"\0\1" + struct.pack(f">{height}H", *map(len, packed)) + b"".join(packed))


def byterun1_ilbm(width, height, rows):
    """An ILBM of `rows` in 8 planes, each plane's row in ByteRun1, as Deluxe
    Paint saves one."""
    def chunk(kind, data):
        return kind + struct.pack(">I", len(data)) + data + bytes(len(data) % 2)
    plane_bytes, body = (width + 15) // 16 * 2, bytearray()
    for row in rows:
        for plane in range(8):
            bits = bytearray(plane_bytes)
            for x, index in enumerate(row):
                bits[x // 8] |= (index >> plane & 1) << (7 - x % 8)
            body += packbits(bytes(bits))
    chunks = (chunk(b"BMHD", struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, 8, 0, 1, 0, 0, 1, 1, width, height)) +
              chunk(b"CMAP", bytes(k for k in range(256) for _ in range(3))) + chunk(b"BODY", bytes(body)))
    return b"FORM" + struct.pack(">I", 4 + len(chunks)) + b"ILBM" + chunks


# Saves the 640 x 480 palette indices read from standard input in the format
# and with the options named on the command line, to standard output.
PILLOW_SAVE = r"""
import io, sys
from PIL import Image
image = Image.frombytes("P", (640, 480), sys.stdin.buffer.read())
image.putpalette(bytes(range(256)) * 3)
out = io.BytesIO()
image.save(out, sys.argv[1], **dict(option.split("=") for option in sys.argv[2:]))
sys.stdout.buffer.write(out.getvalue())
"""


def pillow_saved(python, rows, *format_and_options):
    return subprocess.run([python, "-c", PILLOW_SAVE, *format_and_options], input=b"".join(rows),
                          capture_output=True, check=True).stdout


def wall_time(command, cwd, output):
    # Each run writes a new file, as in a pipeline that converts one picture
    # after another: replacing an existing file costs extra on some file
    # systems (ext4 flushes the new data before it renames over the old).
    if os.path.exists(os.path.join(cwd, output)):
        os.remove(os.path.join(cwd, output))
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_memory_kib(command, cwd, check=True):
    result = subprocess.run(["/usr/bin/time", "-v", *command], cwd=cwd, check=check,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in result.stderr.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    raise RuntimeError("no peak memory from /usr/bin/time")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", default="build/tessera")
    parser.add_argument("--palette-program", default="build/tessera-palette")
    parser.add_argument("--runs", type=int, default=200, help="runs of tessera and cp for the smallest bitmap")
    parser.add_argument("--python", default="/usr/bin/python3", help="a Python that has Pillow")
    parser.add_argument("--decode-time", default="build/decode_time", help="tessera's readers timed in a process")
    parser.add_argument("--frm-program", help="tessera-frm: its make, explode and info of 1,200 frames, at the end")
    parser.add_argument("--frm-runs", type=int, default=5, help="runs of each tessera-frm job")
    parser.add_argument("--frm-only", action="store_true", help="only the tessera-frm jobs")
    args = parser.parse_args()
    if args.frm_only and not args.frm_program:
        parser.error("--frm-only needs --frm-program")
    program = os.path.abspath(args.program)
    pillow = subprocess.run([args.python, "-c", "import PIL"], capture_output=True).returncode == 0
    if not pillow:
        print(f"note: {args.python} has no Pillow (Debian: python3-pil); its column stays empty", file=sys.stderr)
    if args.frm_only:
        frm_benchmark(args.frm_program, args.python, pillow, args.frm_runs)
        return

    drawn = drawn_picture(640, 480)
    cases = [(f"{width} × {height}", width, height, bitmap(width, height), 0) for width, height in SIZES]
    cases.append(("640 × 480 drawn", 640, 480, bitmap(640, 480, drawn), 0))
    stream = rle8(drawn)
    cases.append(("640 × 480 drawn, RLE8", 640, 480, bitmap(640, 480, stream=stream), len(stream)))
    # A PNG's chunk is read whole into a block of at least 64 KiB; beside it
    # the row being inflated and the one above.
    png = indexed_png(640, 480, drawn)
    cases.append(("640 × 480 drawn, PNG", 640, 480, png, 65536 + 2 * 641))
    # Saved by Pillow: GIF, TGA and PCX are read through a 64 KiB buffer of
    # the program's own into the picture.
    saved = {}
    if pillow:
        for label, options in [("GIF", ["GIF"]), ("RLE TGA", ["TGA", "compression=tga_rle"]), ("PCX", ["PCX"]),
                               ("LZW TIFF", ["TIFF", "compression=tiff_lzw"]),
                               ("deflate TIFF", ["TIFF", "compression=tiff_adobe_deflate"])]:
            saved[label] = pillow_saved(args.python, drawn, *options)
            cases.append((f"640 × 480 drawn, {label}", 640, 480, saved[label], len(saved[label])))
        noisy = noisy_picture(640, 480)
        noisy_gif = pillow_saved(args.python, noisy, "GIF")
        cases.append(("640 × 480 noisy", 640, 480, bitmap(640, 480, noisy), 0))
        cases.append(("640 × 480 noisy, GIF", 640, 480, noisy_gif, len(noisy_gif)))
    # PSD and ILBM are read through the same buffer; Pillow reads no ILBM.
    for label, data in [("RLE PSD", rle_psd(640, 480, drawn)), ("ByteRun1 ILBM", byterun1_ilbm(640, 480, drawn))]:
        saved[label] = data
        cases.append((f"640 × 480 drawn, {label}", 640, 480, data, len(data)))
    not_pillow = {"640 × 480 drawn, ByteRun1 ILBM"}
    ours = {"RLE PSD", "ByteRun1 ILBM"}  # written here, not by Pillow

    print(f"| picture | tessera | cp | Pillow | tessera / cp | Pillow / tessera | peak memory | may hold + 2 MiB |")
    print(f"|---|---:|---:|---:|---:|---:|---:|---:|")
    for label, width, height, data, compressed in cases:
        work = tempfile.mkdtemp(prefix="tessera-bench-")
        try:
            with open(os.path.join(work, "vantrel.tmp"), "wb") as f:
                f.write(data)
            with open(os.path.join(work, "convert.py"), "w") as f:
                f.write(PILLOW_SCRIPT)
            commands = {
                "tessera": [program, "C:\\art\\pic.bmp"],
                "cp": ["cp", "vantrel.tmp", "copy.tmp"],
                "Pillow": [args.python, "convert.py", "C:\\art\\pic.bmp"],
            }
            outputs = {"tessera": "pic.frm", "cp": "copy.tmp", "Pillow": "pic.frm"}
            if not pillow or label in not_pillow:
                del commands["Pillow"]
            # Fewer runs for big pictures; Pillow, far slower, runs a tenth as often.
            runs = max(20, min(args.runs, args.runs * 300000 // (width * height)))
            times = {name: [] for name in commands}
            for run in range(runs):
                for name, command in commands.items():
                    if name == "Pillow" and run % 10:
                        continue
                    times[name].append(wall_time(command, work, outputs[name]))
            median = {name: statistics.median(values) * 1000 for name, values in times.items()}
            # The stored block; a compressed picture decodes into width x
            # height bytes and holds its stream beside them.
            held = width * height + compressed if compressed else (width + 3) // 4 * 4 * height
            peak = peak_memory_kib(commands["tessera"], work)
            pillow_ms = f"{median['Pillow']:.2f} ms" if "Pillow" in median else ""
            pillow_ratio = f"{median['Pillow'] / median['tessera']:.1f}" if "Pillow" in median else ""
            print(f"| {label} | {median['tessera']:.2f} ms | {median['cp']:.2f} ms | {pillow_ms} "
                  f"| {median['tessera'] / median['cp']:.2f} | {pillow_ratio} "
                  f"| {peak} KiB | {held / 1024 + 2048:.0f} KiB |", flush=True)
        finally:
            shutil.rmtree(work)
    # Each against its uncompressed picture, the two converted in turn in one
    # loop: a machine whose load drifts between rows of the table moves both.
    drawn_bitmap = bitmap(640, 480, drawn)
    print()
    for what, data in [(f"RLE8 ({len(stream)} bytes of stream)", bitmap(640, 480, stream=stream)),
                       (f"indexed PNG ({len(png)} bytes)", png),
                       *((f"{label}{'' if label in ours else ' by Pillow'} ({len(data)} bytes)", data)
                         for label, data in saved.items())]:
        print(f"The drawn picture, {what} against uncompressed: "
              f"{against_uncompressed(program, data, drawn_bitmap, args.runs):.2f} times the time", flush=True)
    if pillow:
        print(f"The noisy picture, GIF by Pillow ({len(noisy_gif)} bytes) against uncompressed: "
              f"{against_uncompressed(program, noisy_gif, bitmap(640, 480, noisy), args.runs):.2f} times the time")
        decode_time = os.path.abspath(args.decode_time)
        if os.path.exists(decode_time):
            work = tempfile.mkdtemp(prefix="tessera-bench-")
            try:
                with open(os.path.join(work, "noisy.gif"), "wb") as f:
                    f.write(noisy_gif)
                # Side by side, in turn, five times: the median of each.
                pillow_ms, tessera_ms = [], []
                for _ in range(5):
                    pillow_ms.append(float(subprocess.run([args.python, "-c", PILLOW_DECODE, str(args.runs)],
                                                          input=noisy_gif, capture_output=True, check=True).stdout))
                    tessera_ms.append(float(subprocess.run([decode_time, "noisy.gif", str(args.runs)], cwd=work,
                                                           capture_output=True, check=True).stdout))
            finally:
                shutil.rmtree(work)
            print(f"The noisy GIF decoded again and again inside a running process: Pillow "
                  f"{statistics.median(pillow_ms):.2f} ms, tessera {statistics.median(tessera_ms):.2f} ms")
    check = check_against_conversion(program, os.path.abspath(args.palette_program), bitmap(640, 480, drawn), args.runs)
    if check:
        print(f"tessera-palette check of the drawn picture against a 256-colour palette: {check[0]:.2f} ms, "
              f"{check[0] / check[1]:.2f} times tessera's conversion of it")
    remap = remap_against_conversion(program, os.path.abspath(args.palette_program), drawn, png, args.runs)
    if remap:
        print(f"tessera-palette remap of the drawn picture as a full-colour PNG: {remap[0]:.2f} ms, "
              f"{remap[0] / remap[1]:.2f} times tessera's conversion of its indexed PNG")
        print(f"tessera-palette remap --nearest of a 640 × 480 photograph against 256 colours: {remap[2]:.2f} ms")
    for label, seconds, peak in small_files_of_large_pictures(program, os.path.abspath(args.palette_program)):
        print(f"{label}: stops in {seconds * 1000:.1f} ms, peak memory {peak} KiB")
    if args.frm_program:
        frm_benchmark(args.frm_program, args.python, pillow, args.frm_runs)


def against_uncompressed(program, data, uncompressed, runs):
    """The median time of converting `data` over that of converting the
    uncompressed bitmap, run in turn."""
    works = [tempfile.mkdtemp(prefix="tessera-bench-") for _ in range(2)]
    try:
        for work, picture in zip(works, (data, uncompressed)):
            with open(os.path.join(work, "vantrel.tmp"), "wb") as f:
                f.write(picture)
        times = [[], []]
        for _ in range(runs):
            for work, kept in zip(works, times):
                kept.append(wall_time([program, "C:\\art\\pic.bmp"], work, "pic.frm"))
        return statistics.median(times[0]) / statistics.median(times[1])
    finally:
        for work in works:
            shutil.rmtree(work)


def check_against_conversion(program, palette_program, data, runs):
    """The median times of `check` of the bitmap against its own colour table,
    as a raw 768-byte table, and of converting it; None without the program."""
    if not os.path.exists(palette_program):
        return None
    work = tempfile.mkdtemp(prefix="tessera-bench-")
    try:
        for name in ("vantrel.tmp", "pic.bmp"):
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        with open(os.path.join(work, "palette.pal"), "wb") as f:
            f.write(bytes(data[54 + 4 * k + 2 - c] for k in range(256) for c in range(3)))
        times = {"check": [], "tessera": []}
        for _ in range(runs):
            times["check"].append(wall_time([palette_program, "check", "palette.pal", "pic.bmp"], work, "none"))
            times["tessera"].append(wall_time([program, "C:\\art\\pic.bmp"], work, "pic.frm"))
        return tuple(statistics.median(times[name]) * 1000 for name in ("check", "tessera"))
    finally:
        shutil.rmtree(work)


def full_colour_png(width, height, pixels):
    """A PNG of colour type 2 of `pixels` (rows of red, green, blue bytes),
    each row filtered with Up when it helps."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw, prior = bytearray(), bytes(width * 3)
    for row in pixels:
        up = bytes((x - p) & 0xFF for x, p in zip(row, prior))
        raw += b"\2" + up if up.count(0) > row.count(row[0]) else b"\0" + row
        prior = row
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


def photograph(width, height):
    """Smooth gradients with grain, as a photograph has them: nearly every
    pixel a colour of its own neighbourhood, tens of thousands in all."""
    state, rows = 1, []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            state = (state * 1103515245 + 12345) % 2 ** 31
            grain = state >> 16
            row += bytes([min(255, x * 255 // width + grain % 9), min(255, y * 255 // height + grain // 9 % 9),
                          min(255, (x + y) * 255 // (width + height) + grain // 81 % 9)])
        rows.append(bytes(row))
    return rows


def remap_against_conversion(program, palette_program, drawn, indexed, runs):
    """The median times of remap of the drawn picture as a full-colour PNG, of
    tessera's conversion of its indexed PNG, and of remap --nearest of a
    photograph against a 6 x 6 x 6 cube and 40 greys; None without the
    program."""
    if not os.path.exists(palette_program):
        return None
    palette = bytes(range(256)) * 3  # the indexed PNG's PLTE: entry k is 3k, 3k + 1, 3k + 2
    cube = bytes(v for r in range(6) for g in range(6) for b in range(6) for v in (r * 51, g * 51, b * 51))
    greys = bytes(v for k in range(40) for v in (k * 6 + 8,) * 3)
    work = tempfile.mkdtemp(prefix="tessera-bench-")
    try:
        files = {"vantrel.tmp": indexed, "palette.pal": palette, "cube.pal": cube + greys,
                 "drawn.png": full_colour_png(640, 480, [b"".join(palette[3 * k:3 * k + 3] for k in row)
                                                          for row in drawn]),
                 "photo.png": full_colour_png(640, 480, photograph(640, 480))}
        for name, data in files.items():
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        commands = {"remap": [palette_program, "remap", "palette.pal", "drawn.png", "out.bmp"],
                    "tessera": [program, "C:\\art\\pic.bmp"],
                    "nearest": [palette_program, "remap", "--nearest", "cube.pal", "photo.png", "photo.bmp"]}
        outputs = {"remap": "out.bmp", "tessera": "pic.frm", "nearest": "photo.bmp"}
        times = {name: [] for name in commands}
        for _ in range(max(20, runs // 4)):
            for name, command in commands.items():
                times[name].append(wall_time(command, work, outputs[name]))
        return tuple(statistics.median(times[name]) * 1000 for name in commands)
    finally:
        shutil.rmtree(work)


def small_files_of_large_pictures(program, palette_program):
    """Files of a few bytes that announce pictures of gigabytes: a GIF's
    screen of 46000 × 46000 with a background and no image, and a colour PNG
    of 16384 × 32767 with two bytes of image data. Each stop's time and peak
    memory: a reader allots the picture only once the file shows it has one."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    gif = b"GIF89a" + struct.pack("<HHBBB", 46000, 46000, 0x80, 5, 0) + bytes(7)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 16384, 32767, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", b"\x78\x9c"))
    work = tempfile.mkdtemp(prefix="tessera-bench-")
    try:
        for name, data in (("vantrel.tmp", gif), ("screen.gif", gif), ("large.png", png), ("palette.pal", bytes(768))):
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        runs = [(f"tessera, the {len(gif)}-byte GIF", [program, "screen.gif"])]
        if os.path.exists(palette_program):
            runs += [(f"tessera-palette check, the {len(gif)}-byte GIF",
                      [palette_program, "check", "palette.pal", "screen.gif"]),
                     (f"tessera-palette remap, the {len(png)}-byte PNG",
                      [palette_program, "remap", "palette.pal", "large.png", "out.bmp"])]
        for label, command in runs:
            start = time.perf_counter()
            subprocess.run(command, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            yield label, time.perf_counter() - start, peak_memory_kib(command, work, check=False)
    finally:
        shutil.rmtree(work)


# tessera-frm make's job as a user would write it with Pillow: the folder's
# pictures in natural name order, each one frame of its palette indices,
# dealt into six equal directions, the header and frames written with struct.
PILLOW_MAKE = r"""
import os, re, struct, sys
from PIL import Image
out_name, folder = sys.argv[1], sys.argv[2]
def natural(name):
    return [(0, int(run), len(run)) if run.isdigit() else (1, run.lower()) for run in re.findall(r"\d+|\D+", name)]
names = sorted((name for name in os.listdir(folder) if name.lower().endswith((".png", ".bmp"))), key=natural)
frames = []
for name in names:
    with Image.open(os.path.join(folder, name)) as image:
        width, height = image.size
        frames.append(struct.pack(">HHIhh", width, height, width * height, 0, 0) + image.tobytes())
per, starts, at = len(frames) // 6, [], 0
for d in range(6):
    starts.append(at)
    at += sum(map(len, frames[d * per:(d + 1) * per]))
with open(out_name, "wb") as out:
    out.write(struct.pack(">IHHH12h6II", 4, 10, 0, per, *[0] * 12, *starts, at) + b"".join(frames))
"""

# tessera-frm explode's job with Pillow: each frame an indexed PNG with the
# palette and index 0 transparent, at zlib's fastest level as explode writes
# them, and frames.txt listing them.
PILLOW_EXPLODE = r"""
import os, struct, sys
from PIL import Image
palette_name, frm_name, folder = sys.argv[1:4]
with open(palette_name, "rb") as f:
    palette = f.read(768)
with open(frm_name, "rb") as f:
    data = f.read()
version, fps, action, per = struct.unpack_from(">IHHH", data, 0)
shifts, starts = struct.unpack_from(">12h", data, 10), struct.unpack_from(">6I", data, 34)
os.makedirs(folder, exist_ok=True)
lines = [f"fps {fps}", f"action-frame {action}"]
for d in range(6):
    lines.append(f"direction {d}" + (f" shift {shifts[d]} {shifts[6 + d]}" if shifts[d] or shifts[6 + d] else ""))
    at = 62 + starts[d]
    for k in range(per):
        width, height, count, x, y = struct.unpack_from(">HHIhh", data, at)
        image = Image.frombytes("P", (width, height), data[at + 12:at + 12 + width * height])
        image.putpalette(palette)
        name = f"{d}-{k:03}.png"
        image.save(os.path.join(folder, name), transparency=0, compress_level=1)
        lines.append(f"frame {name}" + (f" offset {x} {y}" if x or y else ""))
        at += 12 + count
with open(os.path.join(folder, "frames.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
"""


def sprite(direction, k, width=80, height=100):
    """A walking figure on index 0, as an animation's frame is drawn: flat
    areas of a few indices (head, hair, shirt with its outline, arms, legs,
    shoes), arms and legs swinging over a walk of 8, colours by direction,
    and a badge that moves with k so that no two frames of a run are equal."""
    phase = k % 8
    swing = (phase if phase < 4 else 8 - phase) - 2  # -2 to 2
    middle = width // 2
    rows = []
    for y in range(height):
        row = bytearray(width)
        if 8 <= y < 28:
            half = int((100 - (y - 18) ** 2) ** 0.5)
            row[middle - half:middle + half + 1] = bytes([20 if y < 13 else 60]) * (2 * half + 1)
        if 28 <= y < 62:
            row[middle - 11:middle + 11] = bytes([99 + 8 * direction]) + bytes([100 + 8 * direction]) * 20 + bytes(
                [99 + 8 * direction])
        for side, sign in ((middle - 17, 1), (middle + 11, -1)):
            top = 30 + sign * swing
            if top <= y < top + 26:
                row[side:side + 6] = bytes([101 + 8 * direction]) * 5 + bytes([60])
        if 62 <= y < 96:
            for left, sign in ((middle - 10, 1), (middle + 2, -1)):
                at = left + sign * swing * (y - 62) // 8
                row[at:at + 8] = bytes([140 + direction if y < 92 else 30]) * 8
        if y == 40 or y == 41:
            at = middle - 9 + k % 17
            row[at:at + 2] = b"\xf0\xf0"
        rows.append(bytes(row))
    return rows


def timed(command, cwd, output, to_file=False):
    """The wall time of `command`, with `output` (a file or a folder) removed
    first; with to_file, standard output goes to `output`."""
    path = os.path.join(cwd, output)
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)
    with open(path if to_file else os.devnull, "wb") as out:
        start = time.perf_counter()
        subprocess.run(command, cwd=cwd, check=True, stdout=out)
        return time.perf_counter() - start


def frm_benchmark(frm_program, python, pillow, runs):
    """tessera-frm's make of 1,200 frames of 80 × 100 (six directions of 200)
    from indexed PNGs and from 8-bit bitmaps, each against the I/O floor (one
    cat of every input, and one of the FRM into a new file) and a Pillow
    script; explode of the
    result against a Pillow script; info of it; make's peak memory."""
    frm_program = os.path.abspath(frm_program)
    work = tempfile.mkdtemp(prefix="tessera-bench-frm-")
    try:
        sizes = {}
        for folder in ("png", "bmp"):
            os.mkdir(os.path.join(work, folder))
        names = {"png": [], "bmp": []}
        largest = {"png": 80 * 100, "bmp": 80 * 100}  # the larger of a file and its pixels
        for n in range(1200):
            rows = sprite(n // 200, n % 200)
            for folder, data in (("png", indexed_png(80, 100, rows)), ("bmp", bitmap(80, 100, rows))):
                name = f"{folder}/walk{n + 1:04}.{folder}"
                with open(os.path.join(work, name), "wb") as f:
                    f.write(data)
                names[folder].append(name)
                sizes[folder] = sizes.get(folder, 0) + len(data)
                largest[folder] = max(largest[folder], len(data))
        with open(os.path.join(work, "palette.pal"), "wb") as f:
            f.write(bytes(range(256)) * 3)
        for name, script in (("make.py", PILLOW_MAKE), ("explode.py", PILLOW_EXPLODE)):
            with open(os.path.join(work, name), "w") as f:
                f.write(script)
        jobs = {}  # name: (command, output, to_file)
        for folder in ("png", "bmp"):
            jobs[f"make {folder}"] = ([frm_program, "make", "--directions", "6", f"{folder}.frm", folder],
                                      f"{folder}.frm", False)
            jobs[f"read {folder}"] = (["cat", *names[folder]], "inputs.cat", True)
            if pillow:
                jobs[f"Pillow {folder}"] = ([python, "make.py", "pillow.frm", folder], "pillow.frm", False)
        # The rows after make's need its output; make it once, and check
        # the Pillow script writes the same file.
        subprocess.run(jobs["make png"][0], cwd=work, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "png.frm"), "rb") as f:
            frm = f.read()
        os.rename(os.path.join(work, "png.frm"), os.path.join(work, "out.frm"))
        if pillow:
            subprocess.run(jobs["Pillow png"][0], cwd=work, check=True)
            with open(os.path.join(work, "pillow.frm"), "rb") as f:
                if f.read() != frm:
                    print("note: the Pillow script's FRM differs from tessera-frm make's", file=sys.stderr)
        jobs["explode"] = ([frm_program, "explode", "palette.pal", "out.frm", "exploded"], "exploded", False)
        if pillow:
            jobs["Pillow explode"] = ([python, "explode.py", "palette.pal", "out.frm", "pillow-exploded"],
                                      "pillow-exploded", False)
        jobs["info"] = ([frm_program, "info", "out.frm"], "none", False)
        # Writing the FRM, the other half of the floor.
        jobs["cat FRM"] = (["cat", "out.frm"], "copy.frm", True)
        times = {name: [] for name in jobs}
        for _ in range(runs):
            for name, (command, output, to_file) in jobs.items():
                times[name].append(timed(command, work, output, to_file))
        median = {name: statistics.median(values) * 1000 for name, values in times.items()}
        for folder in ("png", "bmp"):  # the floor: reading every input, and writing the output
            median[f"floor {folder}"] = median[f"read {folder}"] + median["cat FRM"]
        for folder in ("png", "bmp"):  # the floor: reading every input, and writing the output
            median[f"floor {folder}"] = median[f"read {folder}"] + median["cat FRM"]

        print()
        print(f"tessera-frm, 1,200 frames of 80 × 100 in six directions of 200 ({len(frm)} bytes of FRM; "
              f"{sizes['png']} bytes of indexed PNGs, {sizes['bmp']} of bitmaps), median of {runs} runs; "
              f"the floor is reading every input and writing the output: `cat walk0001.EXT … walk1200.EXT > "
              f"inputs.cat` (which writes the inputs' bytes too) plus `cat out.frm > copy.frm`:")
        print("| job | tessera-frm | floor (cat) | Pillow | tessera-frm / floor | tessera-frm / Pillow | target |")
        print("|---|---:|---:|---:|---:|---:|---:|")
        rows = [("make from indexed PNGs", "make png", "floor png", "Pillow png", "1.5 × floor"),
                ("make from bitmaps", "make bmp", "floor bmp", "Pillow bmp", "1.3 × floor"),
                ("explode", "explode", None, "Pillow explode", "0.5 × Pillow"), ("info", "info", None, None, "")]
        for label, ours, floor, theirs, target in rows:
            cells = [f"{median[ours]:.1f} ms"]
            for other in (floor, theirs):
                cells.append(f"{median[other]:.1f} ms" if other in median else "")
            for other in (floor, theirs):
                cells.append(f"{median[ours] / median[other]:.2f}" if other in median else "")
            print(f"| {label} | {' | '.join(cells)} | {target} |")
        print(f"of the floor, reading the PNGs {median['read png']:.1f} ms, the bitmaps {median['read bmp']:.1f} ms, "
              f"writing the FRM {median['cat FRM']:.1f} ms")
        for folder in ("png", "bmp"):
            peak = peak_memory_kib(jobs[f"make {folder}"][0], work)
            print(f"make from {folder.upper()}s: peak memory {peak} KiB; output + largest picture + 2 MiB: "
                  f"{(len(frm) + largest[folder]) / 1024 + 2048:.0f} KiB")
        peak = peak_memory_kib(jobs["info"][0], work)
        print(f"info: peak memory {peak} KiB; the file + 2 MiB: {len(frm) / 1024 + 2048:.0f} KiB")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
