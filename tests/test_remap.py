"""tessera-palette remap: one table of pictures, palettes and options with
the indices written; then Pillow's exact mapping, a brute-force nearest
search, and remap followed by check, tessera and preview over the corpus."""

import itertools
import os
import struct
import subprocess
import sys
import zlib

from harness import Case, frame, make_bitmap, make_pcx, make_png, png_chunk, png_passes, png_predict, target
from test_palette import ANIMATION, COLOURS, FIFO, IMAGES, ROWS, SHUFFLED_IMAGE, SWAPPED, TWO, VGA, animation, \
    corpus_pictures, gpl, jasc, lines, picture, pillow, place, rgb, run_palette, scaled

SPREAD = [(k * 25, 255 - k * 25, k * 97 % 256) for k in range(10)]  # apart at 5 bits too
FIVE = scaled([tuple(v >> 3 for v in c) for c in SPREAD], 5)
SIX_GREEN = [(r, g >> 2 << 2 | g >> 6, b) for r, g, b in FIVE]  # 5, 6 and 5 bits


def pixels(colours, rows=ROWS, alpha=255):
    return [[(*colours[k], alpha) for k in row] for row in rows]


def bmp(image, bits=24, masks=None, info_size=40):
    """A full-colour bitmap; `masks` (red, green, blue, alpha) as bit fields."""
    width, height = len(image[0]), len(image)
    fields = masks or ((0x7C00, 0x3E0, 0x1F, 0) if bits == 16 else (0xFF0000, 0xFF00, 0xFF, 0xFF000000 * (bits == 32)))

    def value(pixel):
        return sum((v >> 8 - bin(m).count("1")) << (m & -m).bit_length() - 1 for v, m in zip(pixel, fields) if m)
    stride = (width * bits + 31) // 32 * 4
    data = b"".join(b"".join(value(p).to_bytes(bits // 8, "little") for p in row).ljust(stride, b"\0")
                    for row in image[::-1])
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bits, 3 if masks else 0, len(data), 0, 0, 0, 0)
    info += struct.pack("<IIII", *masks) if masks else b""
    info = info.ljust(info_size if info_size > 40 else len(info), b"\0")
    return struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info)) + info + data


def png(image, colour=2, depth=8, trns=None, interlace=0):
    """A full-colour PNG, each row filtered by the next of the five filters."""
    take = {0: (0,), 2: (0, 1, 2), 4: (0, 3), 6: (0, 1, 2, 3)}[colour]
    step, raw, kinds = len(take) * depth // 8, b"", itertools.cycle(range(5))
    for x0, y0, dx, dy in png_passes(interlace):
        prior = None
        for y in range(y0, len(image), dy) if x0 < len(image[0]) else ():
            line = b"".join(bytes([p[k], 0x5A][:depth // 8]) for p in image[y][x0::dx] for k in take)
            prior, kind = prior or bytes(len(line)), next(kinds)
            raw += bytes([kind]) + bytes((v - png_predict(kind, line[i - step] if i >= step else 0, prior[i],
                                                           prior[i - step] if i >= step else 0)) & 0xFF
                                         for i, v in enumerate(line))
            prior = line
    head = png_chunk(b"IHDR", struct.pack(">IIBBBBB", len(image[0]), len(image), depth, colour, 0, 0, interlace))
    return make_png(0, 0, head=head, before=(trns,) if trns else (), stream=zlib.compress(raw))


def tga(image, depth=24, rle=False):
    stored = [bytes([p[2], p[1], p[0], p[3]][:depth // 8]) for row in image[::-1] for p in row]
    data = b"".join(b"\x80" + p for p in stored) if rle else b"".join(stored)
    return struct.pack("<BBBHHBHHHHBB", 0, 0, 10 if rle else 2, 0, 0, 0, 0, 0, len(image[0]), len(image), depth,
                       0) + data


GREYS = [(k * 25, k * 25, k * 25) for k in range(10)]
HOLE = pixels(COLOURS)
HOLE[1][2] = (*COLOURS[7], 0)  # transparent
SHIFTED = pixels([(r, g, b + 1) for r, g, b in SPREAD])
RUNS = [bytes([0, 0, 0, 1, 1]), bytes([1, 1, 2, 2, 2]), bytes([2, 2, 2, 2, 0])]
DUPLICATE = COLOURS[:9] + [COLOURS[2]] + COLOURS[10:]
SWAP_BACK = [bytes(4 if k == 3 else 3 if k == 4 else k for k in row) for row in ROWS]
GIF_CLEAR = picture("gif", COLOURS)[:13 + 768] + b"\x21\xF9\x04\x01\0\0\x05\0" + picture("gif", COLOURS)[13 + 768:]
KEPT = lines("pic: in order already, every pixel kept its index")
NO_BLACK = bytes([64, 0, 0] + [63] * 12 + [1] * 3 + [63] * 750 + [0] * 32768)
EARLIER = make_bitmap(2, 2)  # an earlier remap's, which a remap may replace


def took(count):
    return lines(f"pic: {count} of 15 pixels took another index")


def full(count=15, nearest=""):
    return lines(f"pic: {count} pixels of full colour, each now an index of the palette") + nearest


# The images of IMAGES as remap writes them with --transparent 0: one table, the transparent pixels 0.
IMAGES_OUT = [IMAGES[0], ([b"\3\4", b"\5\0"], 1, 1, 1, 20, 0, None), IMAGES[2], ([b"\0\2"], 0, 2, 3, 40, 0, None),
              ([b"\x09"], 4, 2, 0, 50, None, None)]
ALONE = [(*SHUFFLED_IMAGE[:4], 7, None, SHUFFLED_IMAGE[6])]
KEPT_CLEAR = [IMAGES[0], ([b"\3\4"], 1, 0, 2, 5, 9, None), IMAGES[2]]  # disposed of to an index no pixel has

# (name, palette file, options, picture, OUT, status, standard output or error, indices written; for a GIF, the
# GIF written and whether tessera-frm makes the frames of the picture of it)
REMAP = [
    *((f"{kind} in order", COLOURS, [], picture(kind, COLOURS), "out.png", 0, KEPT, ROWS)
      for kind in ("bmp", "png", "gif", "tga", "pcx", "psd", "lbm", "tif")),
    ("bitmap in order, byte for byte", rgb(COLOURS), [], picture("bmp", COLOURS), "out.bmp", 0, KEPT, "same"),
    ("palette shuffled", COLOURS, [], picture("tga", SWAPPED), "out.bmp", 0, took(2), SWAP_BACK),
    ("index the palette repeats keeps it", DUPLICATE, [], picture("png", DUPLICATE), "o.bmp", 0, KEPT, ROWS),
    ("repeated colour takes its lowest index", COLOURS, [], picture("gif", DUPLICATE), "o.png", 0, took(4),
     [bytes(2 if k == 9 else k for k in row) for row in ROWS]),
    ("full colour, repeated entry", DUPLICATE, [], png(pixels(DUPLICATE)), "o.bmp", 0, full(),
     [bytes(2 if k == 9 else k for k in row) for row in ROWS]),
    ("6-bit palette", rgb(VGA), [], bmp(pixels([(r << 2 | 3, g << 2, b << 2 | 1) for r, g, b in VGA])), "o.png", 0,
     full(), ROWS),
    ("24-bit bitmap", SPREAD, [], bmp(pixels(SPREAD)), "o.bmp", 0, full(), ROWS),
    ("32-bit bitmap, its fourth byte no alpha", COLOURS, [], bmp(HOLE, 32), "o.bmp", 0, full(), ROWS),
    ("16-bit bitmap", FIVE, [], bmp(pixels(FIVE), 16), "o.bmp", 0, full(), ROWS),
    ("16-bit bit fields 5-6-5", SIX_GREEN, [], bmp(pixels(SIX_GREEN), 16, (0xF800, 0x7E0, 0x1F, 0)), "o.bmp",
     0, full(), ROWS),
    ("32-bit bit fields, 124-byte header", SPREAD, [],
     bmp(pixels(SPREAD), 32, (0xFF00, 0xFF0000, 0xFF000000, 0xFF), 124), "o.png", 0, full(), ROWS),
    *((f"PNG colour type {colour}, {depth} bits", GREYS if colour in (0, 4) else SPREAD, [],
       png(pixels(GREYS if colour in (0, 4) else SPREAD), colour, depth), "o.png", 0, full(), ROWS)
      for colour in (0, 2, 4, 6) for depth in (8, 16)),
    *((f"interlaced PNG, colour type {colour}, {depth} bits", SPREAD, [], png(pixels(SPREAD), colour, depth,
                                                                                 interlace=1), "o.bmp", 0, full(), ROWS)
      for colour, depth in ((2, 16), (6, 8))),
    *((f"TGA {depth} bits{', RLE' * rle}", SPREAD, [], tga(pixels(SPREAD), depth, rle), "o.bmp", 0, full(), ROWS)
      for depth in (24, 32) for rle in (False, True)),
    ("transparent pixel", COLOURS, [], png(HOLE, 6), "o.bmp", 1,
     lines("pic: 1 transparent pixel; --transparent N gives them index N"), None),
    ("transparent pixel, --transparent", COLOURS, ["--transparent", "200"], png(HOLE, 6), "o.bmp", 0, full(),
     [ROWS[0], bytes([5, 6, 200, 8, 9]), ROWS[2]]),
    ("32-bit bitmap with an alpha mask", COLOURS, ["--transparent", "0"],
     bmp(HOLE, 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), 56), "o.bmp", 0, full(),
     [ROWS[0], bytes([5, 6, 0, 8, 9]), ROWS[2]]),
    ("TGA, alpha 0 in every pixel", COLOURS, [], tga(pixels(COLOURS, alpha=0), 32), "o.bmp", 0, full(), ROWS),
    ("GIF transparent index", COLOURS, ["--transparent", "255"], GIF_CLEAR, "o.png", 0, took(1),
     [bytes(255 if k == 5 else k for k in row) for row in ROWS]),
    ("indexed PNG tRNS", COLOURS, ["--transparent", "9"],
     make_png(5, 3, ROWS, before=(png_chunk(b"PLTE", rgb(COLOURS)), png_chunk(b"tRNS", b"\0"))), "o.png", 0, took(1),
     [bytes([9, 1, 2, 3, 4]), ROWS[1], ROWS[2]]),
    ("colours missing", SPREAD[:8], [], png(SHIFTED), "o.png", 1, lines(
        "pic: 10 colours the palette lacks, so nothing is written; --nearest takes the nearest instead", *(f"  {(r, g, b + 1)} at x {k % 5}, y {k // 5}"
                                               for k, (r, g, b) in enumerate(SPREAD[:8]))), None),
    ("colours missing, --nearest", SPREAD, ["--nearest"], png(SHIFTED), "o.bmp", 0,
     full(15, lines("pic: 15 pixels moved to the nearest colour, the farthest by 1.0")), ROWS),
    ("runs of one colour, across rows", SPREAD, ["--nearest"], png(pixels([(r, g, b + 1) for r, g, b in SPREAD[:2]] +
                                                                          SPREAD[2:], RUNS)), "o.png", 0,
     full(15, lines("pic: 8 pixels moved to the nearest colour, the farthest by 1.0")), RUNS),
    ("a tie goes to the lower index", [(0, 0, 0), (10, 0, 0), (0, 10, 0)], ["--nearest"],
     tga([[(5, 5, 0, 255), (0, 9, 0, 255)]]), "o.png", 0,
     full(2, lines("pic: 2 pixels moved to the nearest colour, the farthest by 7.1")), [bytes([0, 2])]),
    # Full-colour pictures cut short or damaged, empty, or complete without IEND.
    ("TGA image id past the end", COLOURS, ["--nearest"], bytes.fromhex("c800020000000000000000000100010018") +
     b"\0\x10\x20\x30", "o.bmp", 2, "pic: damaged or cut short", None),
    ("TGA colour map of a wrapping size", COLOURS, [], struct.pack("<BBBHHBHHHHBB", 0, 1, 2, 65535, 65535, 32, 0, 0,
                                                                   1, 1, 24, 0) + b"\x10\x20\x30", "o.bmp", 2,
     "pic: damaged or cut short", None),
    ("RGB PNG far larger than its data", COLOURS, [], make_png(0, 0, head=png_chunk(b"IHDR", struct.pack(
        ">IIBBBBB", 16384, 32767, 8, 2, 0, 0, 0)), stream=b"\x78\x9c"), "o.bmp", 2, "pic: damaged or cut short", None),
    ("24-bit bitmap of width 0", COLOURS, [], bmp([[]] * 3), "o.bmp", 2,
     "pic: an empty picture, which has nothing to remap", None),
    ("RGB PNG without IEND", COLOURS, [], png(pixels(COLOURS))[:-12], "o.png", 0, full(), ROWS),
    ("PCX of three planes", COLOURS, [], make_pcx(5, 3, planes=3, rle=False, data=b"".join(
        bytes(COLOURS[k][c] for k in row).ljust(6, b"\0") for row in ROWS for c in range(3))), "o.bmp", 0, full(), ROWS),
    ("OUT neither .bmp, .png nor .gif", COLOURS, [], picture("bmp", COLOURS), "o.tga", 2,
     "tessera-palette: remap writes a .bmp, a .png or a .gif, not o.tga", None),
    ("--transparent 256", COLOURS, ["--transparent", "256"], b"", "o.bmp", 2,
     "tessera-palette: --transparent takes an index of 0 to 255", None),
    ("--nearest with check", COLOURS, ["--nearest"], b"", None, 2,
     "tessera-palette: --nearest and --transparent apply to remap only", None),
    ("48-bit bitmap", COLOURS, [], make_bitmap(5, 3, bits=48), "o.bmp", 2,
     "pic: a full-colour picture of a kind remap does not read; save it as a 24-bit PNG or bitmap", None),
    ("greyscale PNG of 4 bits", COLOURS, [], make_png(5, 3, ROWS, depth=4, head=png_chunk(
        b"IHDR", struct.pack(">IIBBBBB", 5, 3, 4, 0, 0, 0, 0))), "o.bmp", 2,
     "pic: a full-colour picture of a kind remap does not read; save it as a 24-bit PNG or bitmap", None),
    ("16-bit TGA", COLOURS, [], tga(pixels(SPREAD))[:16] + b"\x10" + tga(pixels(SPREAD))[17:], "o.bmp", 2,
     "pic: a full-colour picture of a kind remap does not read; save it as a 24-bit PNG or bitmap", None),
    ("an index past the picture's palette", COLOURS, [], picture("png", COLOURS[:9]), "o.bmp", 2,
     "pic: pixels of index 9, which its own palette of 9 colours lacks", None),
    ("a palette file, not a picture", COLOURS, [], jasc(COLOURS), "o.bmp", 2,
     "pic: a palette file, where a picture goes: the palette comes first, as in tessera-palette remap PALETTE PICTURE "
     "OUT", None),
    ("cut short", SPREAD, [], tga(pixels(SPREAD))[:-1], "o.bmp", 2, "pic: damaged or cut short", None),
    ("an empty file", SPREAD, [], b"", "o.bmp", 2, "pic: an empty file", None),
    ("a FIFO", SPREAD, [], FIFO, "o.bmp", 2, "pic: not a regular file", None),
    # Lookup tables after the colours: entry 0, above 63, is no colour and shows black; black takes entry 5.
    ("--nearest never takes no colour", NO_BLACK, ["--nearest"], png([[(0, 0, 0, 255), (4, 4, 4, 255)]]), "o.png", 0,
     full(2, lines("pic: 1 pixel moved to the nearest colour, the farthest by 6.9")), [bytes([5, 5])]),
    ("nor for a palette picture", NO_BLACK, ["--nearest"], picture("png", [(0, 0, 0)] * 10), "o.png", 0,
     took(14) + lines("pic: 15 pixels moved to the nearest colour, the farthest by 6.9"), [bytes([5] * 5)] * 3),
    ("no picture", SPREAD, [], None, "o.bmp", 2, "pic: no such file", None),
    ("GIF of 5 images to a GIF", COLOURS, ["--transparent", "0"], ANIMATION, "o.gif", 0,
     lines("pic: 5 images, 2 of 25 pixels took another index"), (animation(IMAGES_OUT), True)),
    ("GIF of 2 images, a table shuffled, to a GIF", COLOURS, [], TWO, "o.gif", 0,
     lines("pic: 2 images, 2 of 17 pixels took another index"),
     (animation([IMAGES[0], ([b"\4\3"], *SHUFFLED_IMAGE[1:6], None)], 3, 7), False)),
    ("GIF of 1 image to a GIF, the background showing", COLOURS, [], animation(ALONE, None, 2), "o.gif", 0, took(2)
     .replace("15", "2"), (animation([([b"\4\3"], *ALONE[0][1:6], None)], None, 2), False)),
    ("a picture to a GIF", COLOURS, [], picture("png", SWAPPED), "o.gif", 0, took(2),
     (animation([(SWAP_BACK, 0, 0, 0, 0, None, None)], None), False)),
    ("GIF of 2 images to a GIF, --nearest", COLOURS, ["--nearest"], animation(IMAGES[:1] + [(*SHUFFLED_IMAGE[:6], [
        *COLOURS[:3], (4, 252, 21), *COLOURS[4:]])]), "o.gif", 0, lines(
        "pic: 2 images, in order already, every pixel kept its index",
        "pic: 2 images, 1 pixel moved to the nearest colour, the farthest by 1.0"),
     (animation(IMAGES[:1] + [(*SHUFFLED_IMAGE[:6], None)]), False)),
    ("GIF to a GIF, a transparent index no pixel has", COLOURS, [], animation(KEPT_CLEAR), "o.gif", 0,
     lines("pic: 3 images, in order already, every pixel kept its index"), (animation(KEPT_CLEAR), True)),
    ("GIF to a GIF, transparent pixels", COLOURS, [], ANIMATION, "o.gif", 1,
     lines("pic: 5 images, 2 transparent pixels; --transparent N gives them index N"), None),
    ("GIF to a GIF, a colour lacking in two images", COLOURS, ["--transparent", "0"], animation(
        IMAGES[:2] + [(*IMAGES[2][:6], [(9, 9, 9)] * 8)] + IMAGES[3:4] + [(*IMAGES[4][:6], [(9, 9, 9)] * 10)]), "o.gif",
     1, lines("pic: 5 images, 1 colour the palette lacks, so nothing is written; --nearest takes the nearest instead",
              "  (9, 9, 9) at x 2, y 0 of image 3"), None),
    ("GIF to a GIF, the background lacking where it shows", COLOURS[:9], [], animation(ALONE, None, 9), "o.gif", 1,
     lines("pic: 1 colour the palette lacks, so nothing is written; --nearest takes the nearest instead",
           f"  {COLOURS[9]} at x 0, y 0"), None),
    *((f"GIF of 5 images to {kind}", COLOURS, [], ANIMATION, "o." + kind, 2,
       f"pic: 5 images, where a {what} holds one; remap writes them all to an OUT ending in .gif", None)
      for kind, what in (("png", "PNG"), ("bmp", "bitmap"))),
]

# What an artist's commands say: (name, files besides "pal", a JASC-PAL of
# COLOURS (None for a folder), command, status, words its output holds).
# Every file stays as it was, but remap's OUT on status 0.
SHUFFLED, LACKING = {"t.png": picture("png", SWAPPED)}, {"t.gif": picture("gif", [(9, 9, 9)] + COLOURS[1:])}
WORDS = [
    *((f"check of a full-colour {kind}", {f"f.{kind}": make(pixels(colours))}, ["check", "pal", f"f.{kind}"], 1,
       ["full colour", "tessera refuses", f"tessera-palette remap {option}pal f.{kind} OUT.png brings it in"])
      for kind, make, colours, option in (("png", png, COLOURS, ""), ("bmp", bmp, COLOURS, ""),
                                          ("tga", tga, SPREAD, "--nearest "))),
    ("check of a 3-plane PCX", {"f.pcx": make_pcx(5, 3)[:65] + b"\3" + make_pcx(5, 3)[66:]}, ["check", "pal", "f.pcx"],
     1, ["full colour", "tessera refuses; tessera-palette remap --nearest pal f.pcx OUT.png"]),
    ("check, shuffled", SHUFFLED, ["check", "pal", "t.png"], 1,
     ["every colour it uses is in the palette", "tessera-palette remap pal t.png t.png puts it in order without loss"]),
    ("check, colours lacking", LACKING, ["check", "pal", "t.gif"], 1,
     ["the palette lacks 1 of its colours", "tessera-palette remap --nearest pal t.gif OUT.png"]),
    ("check of an animation, the words alone", {"a.gif": animation(IMAGES[:1] + [(*IMAGES[1][:6], [(9, 9, 9)] * 9)])},
     ["check", "--advice", "none", "pal", "a.gif"], 1, ["a.gif: 2 images, image 2: 3 indices differ\n  image 2, index 3: "
                                                        "(9, 9, 9)", "the palette lacks 1 of their colours: remap --nearest"]),
    ("remap in place", SHUFFLED, ["remap", "pal", "t.png", "./t.png"], 0, ["t.png: 2 of 15 pixels took another index"]),
    ("check, palette second", SHUFFLED, ["check", "t.png", "pal"], 2, ["pal: a palette file", "the palette comes first"]),
    ("remap, palette second", {"g.gpl": gpl(COLOURS), **SHUFFLED}, ["remap", "t.png", "g.gpl", "o.png"], 2,
     ["g.gpl: a palette file", "the palette comes first"]),
    ("check of a folder", {"art": None}, ["check", "pal", "art"], 2, ["art: a folder, not a file"]),
    ("a missing folder on the way", SHUFFLED, ["check", "pal", "no/t.png"], 2, ["no/t.png: no such folder on the way"]),
    *((f"{command} to a missing folder", SHUFFLED, [command, "pal", "t.png", "no/o.png"], 2,
       ["no/o.png: no such folder on the way"]) for command in ("remap", "preview")),
    ("OUT a folder", {"o.png": None, **SHUFFLED}, ["remap", "pal", "t.png", "o.png"], 2, ["o.png: a folder, not a file"]),
    ("OUT the palette", {"p.png": picture("png", COLOURS), **SHUFFLED}, ["remap", "p.png", "t.png", "./p.png"], 2,
     ["OUT ./p.png is the palette p.png itself", "tessera-palette --help"]),
    ("OUT the frame", {"f.png": frame(5, 3, ROWS)}, ["preview", "pal", "f.png", "./f.png"], 2,
     ["OUT ./f.png is f.png itself"]),
    ("preview to .bmp", {"t.frm": frame(5, 3, ROWS)}, ["preview", "pal", "t.frm", "t.bmp"], 2,
     ["preview writes a PNG, so OUT ends in .png, not t.bmp\ntessera-palette --help tells more\n"]),
    ("palette alone", {}, ["check", "pal"], 0, ["pal: a palette of 256 colours"]),
    # An existing OUT is replaced only when it is what the command writes.
    *((f"remap over {what}", {"o" + name[-4:]: data, **SHUFFLED}, ["remap", "pal", "t.png", "o" + name[-4:]], 2,
       [f"o{name[-4:]}: {what}, which remap does not write; give OUT another name, or remove it first"])
      for what, name, data in (("a full-colour PNG", ".png", png(pixels(COLOURS))),
                               ("a Photoshop document", ".bmp", picture("psd", COLOURS)),
                               ("a 4-bit indexed PNG", ".png", make_png(5, 3, ROWS, depth=4)),
                               ("a 24-bit bitmap", ".bmp", bmp(pixels(COLOURS))))),
    ("remap over a GIF", {"o.png": picture("gif", COLOURS), **SHUFFLED}, ["remap", "pal", "t.png", "o.png"], 0, [
        "t.png: 2 of 15 pixels took another index"]),
    ("preview of a GIF of 5 images", {"a.gif": ANIMATION}, ["preview", "pal", "a.gif", "o.png"], 0,
     ["a.gif: the first of 5 images; tessera-frm make takes them all\no.png: a preview of a.gif\n"]),
    ("preview over an unmarked PNG", {"o.png": picture("png", COLOURS), "t.frm": frame(5, 3, ROWS)},
     ["preview", "pal", "t.frm", "o.png"], 2,
     ["o.png: an 8-bit indexed PNG, not a preview; give OUT another name, or remove it first"]),
    ("preview over a preview", {"o.png": make_png(5, 3, ROWS, before=(png_chunk(b"tEXt", b"Comment\0tessera preview"),)),
                                "t.frm": frame(5, 3, ROWS)}, ["preview", "pal", "t.frm", "o.png"], 0, []),
    ("a device name, on Windows", {}, ["check", "pal", "NUL"], 2, ["NUL: "]),  # on Linux no such file
    ("remap to a read-only OUT", {"o.png": (picture("png", COLOURS), 0o444), **SHUFFLED},
     ["remap", "pal", "t.png", "o.png"], 2, ["o.png: access denied"]),
]


def read_indexed(data):
    """The palette and rows of indices of the bitmap or PNG remap writes."""
    if data[:2] == b"BM":
        offset, _, width, height = struct.unpack_from("<IIii", data, 10)
        count, stride = struct.unpack_from("<I", data, 46)[0], (width + 3) // 4 * 4
        colours = [tuple(data[54 + 4 * k:57 + 4 * k][::-1]) for k in range(count)]
        return colours, [data[offset + y * stride:offset + y * stride + width] for y in range(height)][::-1]
    width, height = struct.unpack_from(">II", data, 16)
    plte = data.index(b"PLTE")
    count = struct.unpack_from(">I", data, plte - 4)[0] // 3
    raw = zlib.decompress(data[data.index(b"IDAT") + 4:data.index(b"IEND") - 8])
    return [tuple(data[plte + 4 + 3 * k:plte + 7 + 3 * k]) for k in range(count)], [
        raw[y * (width + 1) + 1:(y + 1) * (width + 1)] for y in range(height)]


class Remap(Case):
    def setUp(self):
        if not target.palette_program:
            self.skipTest("end_to_end.py has no --palette-program")
        super().setUp()

    def test_remap(self):
        for name, palette, options, data, out, status, said, indices in REMAP:
            with self.subTest(name):
                self.fresh()
                self.put("pal", palette if isinstance(palette, bytes) else jasc(palette))
                self.put("o.bmp", EARLIER)
                place(self, "pic", data)
                command = ["remap", *options, "pal", "pic", out] if out else ["check", *options, "pal", "pic"]
                found, out_said, err = run_palette(self, *command)
                self.assertEqual((found, out_said, err.split("\n")[0]), (status, "", said) if status == 2 else
                                 (status, said, ""))
                self.assertEqual(self.files() - {"pic"}, {"pal", "o.bmp"} | ({out} if status == 0 else set()))
                if status != 0:
                    self.assertEqual(self.read("o.bmp"), EARLIER)
                elif indices == "same":
                    self.assertEqual(self.read(out), data)
                elif out.endswith(".gif"):  # every image as it was, read back as check and tessera-frm make read it
                    self.assertEqual(self.read(out), indices[0])
                    self.assertEqual(run_palette(self, "check", "pal", out)[0], 0)
                    if indices[1] and target.frm_program:
                        made = [self.run_frm("make", f"{name}.frm", name) and self.read(f"{name}.frm") for name in
                                ("pic", out)]
                        self.assertEqual(made[0], made[1])
                else:
                    table = palette
                    if isinstance(palette, bytes):
                        table = [tuple(palette[k:k + 3]) for k in range(0, len(palette), 3)]
                        table = scaled(table, 6) if max(palette) < 64 else table
                        if len(palette) > 772:  # 6-bit, with lookup tables after: no colour is black
                            table = [(0, 0, 0) if max(c) > 63 else scaled([c], 6)[0] for c in table[:256]]
                    self.assertEqual(read_indexed(self.read(out)), (table, indices))

    def test_words(self):
        for name, files, command, status, words in WORDS:
            with self.subTest(name):
                self.fresh()
                for path, data in {"pal": jasc(COLOURS), **files}.items():
                    self.put(path, *data) if isinstance(data, tuple) else self.put(path, data) if data is not None \
                        else os.mkdir(self.path(path))
                before = {path: self.read(path) for path in self.files()}
                found, out, err = self.run_tool(target.palette_program, *command, unprivileged=any(
                    isinstance(data, tuple) for data in files.values()))
                self.assertEqual(found, status, out + err)
                for word in words:
                    self.assertIn(word + "not a regular file" * (word == "NUL: " and bool(target.wine)), out + err)
                self.assertNotIn("Usage:", err)
                if status != 0:
                    self.assertEqual({path: self.read(path) for path in self.files()}, before)
                if status == 2:  # nothing said on standard output of what didn't happen
                    self.assertEqual(out, "")
                elif command[0] in ("preview", "remap"):
                    self.assertNotEqual(self.read(command[-1]), before.get(command[-1]))

    def test_exact_agrees_with_pillow_and_nearest_with_a_search(self):
        """Pictures of a palette of well-separated colours, remapped exactly,
        as Pillow's quantize() maps them; a photo-like picture with
        --nearest, as a brute-force search for the least squared distance."""
        separated = [(r, g, b) for r in range(0, 256, 51) for g in range(0, 256, 51) for b in range(0, 256, 51)] + [
            (r, g, b) for r in range(25, 255, 51) for g in range(25, 255, 51) for b in range(25, 255, 51)][:40]
        state = [12345]

        def random(limit):
            state[0] = (state[0] * 1103515245 + 12345) % 2 ** 31
            return state[0] % limit
        flat = [(*separated[random(256)], 255) for _ in range(64 * 48)]
        photo = [(min(255, x * 4 + random(24)), min(255, y * 5 + random(24)), (x + y) * 2 + random(16), 255)
                 for y in range(48) for x in range(64)]
        palette = [(random(256), random(256), random(256)) for _ in range(256)]
        self.put("separated", jasc(separated))
        self.put("random", jasc(palette))
        for kind, data in (("png", png), ("bmp", bmp), ("tga", tga)):
            self.put(f"flat.{kind}", data([flat[y * 64:(y + 1) * 64] for y in range(48)]))
            self.assertEqual(run_palette(self, "remap", "separated", f"flat.{kind}", f"flat-{kind}.png"),
                             (0, f"flat.{kind}: 3072 pixels of full colour, each now an index of the palette\n", ""))
        self.put("photo.png", png([photo[y * 64:(y + 1) * 64] for y in range(48)]))
        status, said, err = run_palette(self, "remap", "--nearest", "random", "photo.png", "photo-out.bmp")
        distances = [[(p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2 + (p[2] - c[2]) ** 2 for c in palette] for p in photo]
        nearest = [d.index(min(d)) for d in distances]
        moved = sum(min(d) > 0 for d in distances)
        farthest = max(min(d) for d in distances) ** 0.5
        self.assertEqual((status, said, err), (0, "photo.png: 3072 pixels of full colour, each now an index of the "
                                                  f"palette\nphoto.png: {moved} pixels moved to the nearest colour, the "
                                                  f"farthest by {farthest:.1f}\n", ""))
        self.assertEqual(b"".join(read_indexed(self.read("photo-out.bmp"))[1]), bytes(nearest))
        quantized = pillow_quantize(self, rgb(separated), [self.path(f"flat.{kind}") for kind in ("png", "bmp", "tga")])
        for kind, indices in zip(("png", "bmp", "tga"), quantized):
            with self.subTest(kind):
                self.assertEqual(b"".join(read_indexed(self.read(f"flat-{kind}.png"))[1]).hex(), indices)

    def test_remap_then_check_convert_and_preview(self):
        """Every corpus picture Pillow reads, remapped to its own palette
        reversed: check finds it in order, and tessera's frame of it, shown
        through that palette, has the picture's colours."""
        remapped = {}
        for k, (path, (_, palette, used, _, colours)) in enumerate(corpus_pictures(self)):
            table = [tuple(palette[i:i + 3]) for i in range(0, len(palette), 3)]
            if max(used) >= len(table):
                continue  # indices past the picture's palette have no colour to remap
            self.put(f"{k}.pal", jasc(table[::-1]))
            with self.subTest(path):
                status, said, err = run_palette(self, "remap", f"{k}.pal", path, f"{k}.bmp")
                if status == 1:  # transparent: its colour is none the frame could show
                    self.assertRegex(said, r"^\S+: \d+ transparent pixels?; --transparent N gives them index N\n$")
                    continue
                self.assertEqual((status, err), (0, ""))
                self.assertRegex(said, r"^\S+: (\d+ of \d+ pixels took another index|in order already, every pixel kept its index)\n$")
                self.assertEqual(run_palette(self, "check", f"{k}.pal", f"{k}.bmp"), (0, f"{k}.bmp: ok\n", ""))
                self.assertEqual(self.convert(self.read(f"{k}.bmp"), f"{k}.bmp"), (0, b""))
                self.assertEqual(run_palette(self, "preview", f"{k}.pal", f"{k}.frm", f"{k}.png"),
                                 (0, f"{k}.png: a preview of {k}.frm\n", ""))
                remapped[path] = self.path(f"{k}.png"), colours
        self.assertGreater(len(remapped), 200)
        for (path, (_, colours)), read in zip(remapped.items(), pillow(self, [png for png, _ in remapped.values()])):
            with self.subTest(path, by="Pillow"):
                self.assertEqual(read[4], colours)


QUANTIZE = """import sys, PIL.Image
palette = PIL.Image.new("P", (1, 1))
palette.putpalette(bytes.fromhex(sys.argv[1]))
for path in sys.argv[2:]:
    print(PIL.Image.open(path).convert("RGB").quantize(palette=palette, dither=PIL.Image.Dither.NONE).tobytes().hex())
"""


def pillow_quantize(case, palette, paths):
    pillow(case, [])  # skips the case where no Python here has Pillow
    python = next(p for p in (sys.executable, "/usr/bin/python3") if subprocess.run(
        [p, "-c", "import PIL"], capture_output=True).returncode == 0)
    return subprocess.run([python, "-c", QUANTIZE, palette.hex(), *paths], capture_output=True, text=True,
                          check=True).stdout.split()
