"""tessera-palette: one table a command, then check and preview against
Pillow over the corpus. Skipped unless end_to_end.py is given the program."""

import glob
import hashlib
import os
import struct
import subprocess
import sys
import unittest

from harness import (CORPUS, Case, frame, iff_chunk, lzw, make_bitmap, make_gif, make_iff, make_pcx, make_png, make_psd,
                     make_tga, make_tiff, png_chunk, sub_blocks, target)
from test_corpus import table

# The reference palette, and pictures of its indices 0 to 9 (8 and 9 twice).
COLOURS = [(k, 255 - k, k * 7 % 256) for k in range(256)]
ROWS = [bytes(range(5)), bytes([5, 6, 7, 8, 9]), bytes([9, 8, 9, 8, 9])]
VGA = [(k % 64, 63 - k % 64, k // 4) for k in range(256)]  # 6-bit values


def rgb(colours):
    return b"".join(bytes(c) for c in colours)


def jasc(colours, end=b"\r\n", alpha=False, count=None):
    lines = [b"JASC-PAL", b"0100", str(len(colours) if count is None else count).encode()]
    lines += [b"%d %d %d" % c + b" 255" * alpha for c in colours]
    return end.join(lines) + end


def gpl(colours):
    return (b"GIMP Palette\nName: test\nColumns: 16\n#\n# a comment\n\n" +
            b"".join(b"%3d %3d %3d\tcolour %d\n" % (*c, k) for k, c in enumerate(colours)))


def riff(colours, count=None):
    data = struct.pack("<HH", 0x300, len(colours) if count is None else count) + b"".join(
        bytes(c) + b"\0" for c in colours)
    body = b"PAL " + b"fact" + struct.pack("<I", 3) + b"abc\0" + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def act(colours, count=None):
    return rgb(colours).ljust(768, b"\0") + struct.pack(">HH", len(colours) if count is None else count, 0xFFFF)


def picture(kind, colours, rows=ROWS, tga_bits=24):
    """A 5 x 3 picture of `rows` of each format, its palette `colours`."""
    table = rgb(colours).ljust(768, b"\0")
    if kind == "bmp":
        bitmap = bytearray(make_bitmap(5, 3, rows))
        bitmap[54:54 + 1024] = b"".join(table[k:k + 3][::-1] + b"\0" for k in range(0, 768, 3))
        return bytes(bitmap)
    if kind == "png":
        return make_png(5, 3, rows, before=(png_chunk(b"PLTE", rgb(colours)),))
    if kind == "gif":
        return b"GIF89a" + make_gif(5, 3, rows)[6:13] + table + make_gif(5, 3, rows)[13 + 768:]
    if kind == "pcx":
        return make_pcx(5, 3, rows)[:-768] + table
    if kind == "psd":  # all reds, then all greens, then all blues
        return make_psd(5, 3, rows, colours=table[0::3] + table[1::3] + table[2::3])
    if kind == "lbm":
        return make_iff(5, 3, rows, before=[iff_chunk(b"CMAP", rgb(colours))])
    if kind == "tif":  # 16-bit ColorMap values, of which the high byte counts
        return make_tiff(5, 3, rows, tags={320: (3, [table[k + c] << 8 | 0xFF for c in range(3)
                                                     for k in range(0, 768, 3)])})
    entry = (lambda c: struct.pack("<H", (c[0] >> 3) << 10 | (c[1] >> 3) << 5 | c[2] >> 3)) if tga_bits == 16 else \
        (lambda c: bytes(c[::-1]))
    head = make_tga(5, 3, rows, entry_bits=tga_bits, map_length=len(colours))[:18]
    return head + b"".join(map(entry, colours)) + make_tga(5, 3, rows, map_length=0)[18:]


def animation(images, loop=0, background=0, table=None):
    """A GIF on a 5 x 3 screen of global table `table` (COLOURS unless given)
    and NETSCAPE loop count `loop` (None: none), each image as (rows, left,
    top, disposal, delay, transparent index or None, local table or None)."""
    gif = b"GIF89a" + struct.pack("<HHBBB", 5, 3, 0xF7, background, 0) + rgb(table or COLOURS).ljust(768, b"\0")
    gif += b"" if loop is None else b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", loop) + b"\0"
    for rows, left, top, disposal, delay, clear, local in images:
        gif += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, disposal << 2 | (clear is not None), delay, clear or 0, 0)
        gif += struct.pack("<BHHHHB", 0x2C, left, top, len(rows[0]), len(rows), 0x87 * bool(local))
        gif += rgb(local or []).ljust(768 * bool(local), b"\0") + b"\x08" + sub_blocks(lzw(b"".join(rows), 8))
    return gif + b";"


# Disposals 0 to 3, local tables, transparent indices; as a GIF of 5 images
# in order with COLOURS, of 2 with a table shuffled, of 1 as a picture is.
IMAGES = [(ROWS, 0, 0, 0, 10, None, None), ([b"\3\4", b"\5\6"], 1, 1, 1, 20, 6, COLOURS), ([b"\7\7\7"], 2, 0, 2, 30, None, None),
          ([b"\1\2"], 0, 2, 3, 40, 1, COLOURS[:1] + [(9, 9, 9)] + COLOURS[2:]), ([b"\x09"], 4, 2, 0, 50, None, COLOURS)]
SHUFFLED_IMAGE = ([b"\3\4"], 1, 0, 1, 5, None, COLOURS[:3] + [COLOURS[4], COLOURS[3]] + COLOURS[5:])
ANIMATION, TWO = animation(IMAGES), animation(IMAGES[:1] + [SHUFFLED_IMAGE], 3, 7)


def scaled(colours, bits):
    return [tuple(v << 8 - bits | v >> 2 * bits - 8 for v in c) for c in colours]


# A table of 6-bit values with lookup tables; entry 3, above 63, is no colour.
NO_COLOUR = VGA[:3] + [(64, 0, 0)] + VGA[4:]
LOOKUP = rgb(NO_COLOUR) + bytes(32768)
NEWC = LOOKUP + b"NEWC" + bytes(3 * 65536)
FIFO = "a FIFO"  # placed by place() as one


def place(case, name, data):
    """Puts `data` as the file `name`: a FIFO for FIFO, nothing for None."""
    if data == FIFO:
        os.mkfifo(case.path(name))
    elif data is not None:
        case.put(name, data)


SWAPPED = COLOURS[:3] + [COLOURS[4], COLOURS[3]] + COLOURS[5:]
DIFFER = [(9, 9, 9) if k in (3, 4) else c for k, c in enumerate(COLOURS)]
FIVE_BIT = [(c[0] | 7, c[1] & ~7, c[2]) for c in COLOURS]  # the same at 5 bits, not at 8


def lines(*found):
    return "".join(line + "\n" for line in found)


OK = lines("pic: ok")


def in_order(pic, pal="pal"):
    """check's last line for a picture whose colours are all in the palette."""
    return (f"  every colour it uses is in the palette at another index: tessera-palette remap {pal} {pic} "
            f"{pic if pic.endswith(('.bmp', '.png')) else 'OUT.png'} puts it in order without loss")


def lacking(count, pic, pal="pal"):
    return f"  the palette lacks {count} of its colours: tessera-palette remap --nearest {pal} {pic} OUT.png takes the nearest"

# (name, palette file, options, pictures, status, standard output, standard error)
CHECK = [
    ("JASC-PAL, CR LF", jasc(COLOURS), [], {"pic": picture("bmp", COLOURS)}, 0, OK, ""),
    ("JASC-PAL, LF, alpha column", jasc(COLOURS, b"\n", True), [], {"pic": picture("png", COLOURS)}, 0, OK, ""),
    ("GIMP palette", gpl(COLOURS), [], {"pic": picture("gif", COLOURS)}, 0, OK, ""),
    ("GIF of 5 images: local tables, disposals 0 to 3, transparent indices unpainted", jasc(COLOURS), [],
     {"pic": ANIMATION}, 0, lines("pic: 5 images, ok"), ""),
    ("GIF of 2 images, the second's table shuffled", jasc(COLOURS), [], {"a.gif": TWO}, 1, lines(
        "a.gif: 2 images, image 2: 2 indices differ", f"  image 2, index 3: {COLOURS[4]}, palette {COLOURS[3]}",
        f"  image 2, index 4: {COLOURS[3]}, palette {COLOURS[4]}", "  every colour they use is in the palette at "
        "another index: tessera-palette remap pal a.gif a.gif puts them in order without loss"), ""),
    ("GIF of 2 images, the command alone", jasc(COLOURS), ["--advice", "only"], {"a.gif": TWO}, 1,
     lines('remap "pal" "a.gif" "a.gif"'), ""),
    ("GIF of 5 images, the first's transparent index painted, one colour lacking in two", jasc(COLOURS), [],
     {"pic": animation([(ROWS, 0, 0, 0, 0, 9, COLOURS[:9] + [(9, 9, 9)])] + IMAGES[1:4] + [
         ([b"\x08"], 4, 2, 0, 0, None, COLOURS[:8] + [(9, 9, 9)])])},
     1, lines("pic: 5 images, 2 of them: 2 indices differ", "  image 1, index 9: (9, 9, 9), palette (9, 246, 63)",
              "  image 5, index 8: (9, 9, 9), palette (8, 247, 56)", "  the palette lacks 1 of their colours: "
              "tessera-palette remap --nearest pal pic OUT.gif takes the nearest"), ""),
    ("GIF of 2 images, the second disposed of to a start value the palette lacks", jasc(COLOURS), [],
     {"pic": animation([([b"\1" * 5] * 3, 0, 0, 0, 0, None, None), ([b"\1"], 0, 0, 2, 0, None, None)], None, 2,
                       COLOURS[:2] + [(9, 9, 9)] + COLOURS[3:])},
     1, lines("pic: 2 images, image 2: 1 index differs", f"  image 2, index 2: (9, 9, 9), palette {COLOURS[2]}",
              "  the palette lacks 1 of their colours: tessera-palette remap --nearest pal pic OUT.gif takes the "
              "nearest"), ""),
    ("GIF of 1 image of a local table, as a picture", jasc(COLOURS), [], {"pic": animation([SHUFFLED_IMAGE])}, 1,
     lines("pic: 2 indices differ", f"  index 3: {COLOURS[4]}, palette {COLOURS[3]}",
           f"  index 4: {COLOURS[3]}, palette {COLOURS[4]}", in_order("pic")), ""),
    ("GIF whose second image is cut short", jasc(COLOURS), [], {"pic": animation(IMAGES[:2])[:-6]}, 2, "",
     "pic: image 2: damaged or cut short"),
    ("RIFF palette", riff(COLOURS), [], {"pic": picture("tga", COLOURS)}, 0, OK, ""),
    ("TIFF ColorMap", riff(COLOURS), [], {"pic": picture("tif", COLOURS)}, 0, OK, ""),
    ("Adobe table, 772 bytes", act(COLOURS[:10]), [], {"pic": picture("pcx", COLOURS)}, 0, OK, ""),
    ("raw 8-bit table", rgb(COLOURS), [], {"pic": picture("bmp", COLOURS)}, 0, OK, ""),
    ("raw 6-bit table", rgb(VGA), [], {"pic": picture("png", [(r << 2 | 3, g << 2, b << 2) for r, g, b in VGA])}, 0,
     OK, ""),
    ("raw 6-bit table read as 8 bits", rgb(VGA), ["--depth", "8"], {"pic": picture("png", VGA[:2] + COLOURS[2:])},
     1, lines("pic: 8 indices differ", *(f"  index {k}: {COLOURS[k]}, palette {VGA[k]}" for k in range(2, 10)),
              lacking(8, "pic")), ""),
    ("--depth 6 with a byte above 63", rgb(COLOURS), ["--depth", "6"], {"pic": b""}, 2, "",
     "pal: a byte above 63 in a table of 6-bit values"),
    ("--depth for a JASC-PAL file", jasc(COLOURS), ["--depth", "8"], {"pic": b""}, 2, "",
     "pal: --depth applies to a raw table of 768 bytes only"),
    ("indices past the end of the palette", jasc(COLOURS[:8]), [], {"pic": picture("gif", COLOURS)}, 1,
     lines("pic: 2 indices differ", f"  index 8: {COLOURS[8]}, palette none", f"  index 9: {COLOURS[9]}, palette none",
           lacking(2, "pic")), ""),
    ("indices past the end of the picture's", jasc(COLOURS), [], {"pic": picture("png", COLOURS[:9])}, 1,
     lines("pic: 1 index differs", f"  index 9: none, palette {COLOURS[9]}", lacking(1, "pic")), ""),
    ("two entries swapped", gpl(COLOURS), [], {"pic": picture("tga", SWAPPED)}, 1,
     lines("pic: 2 indices differ", f"  index 3: {COLOURS[4]}, palette {COLOURS[3]}",
           f"  index 4: {COLOURS[3]}, palette {COLOURS[4]}", in_order("pic")), ""),
    ("one of several pictures differs", riff(COLOURS), [], {"a.gif": picture("gif", COLOURS),
     "b.pcx": picture("pcx", DIFFER[:4] + COLOURS[4:])}, 1,
     lines("a.gif: ok", "b.pcx: 1 index differs", f"  index 3: (9, 9, 9), palette {COLOURS[3]}", lacking(1, "b.pcx"),
           "2 pictures: 1 ok, 1 differing, 0 unreadable"), ""),
    ("eight lines at most", gpl(COLOURS), [], {"pic": picture("bmp", COLOURS[::-1])}, 1,
     lines("pic: 10 indices differ", *(f"  index {k}: {COLOURS[255 - k]}, palette {COLOURS[k]}" for k in range(8)),
           in_order("pic")), ""),
    ("5-bit colour map", jasc(FIVE_BIT), [], {"pic": picture("tga", COLOURS, tga_bits=16)}, 0, OK, ""),
    ("8 bits a channel", jasc(FIVE_BIT), [], {"pic": picture("tga", COLOURS)}, 1,
     lines("pic: 9 indices differ", *(f"  index {k}: {COLOURS[k]}, palette {FIVE_BIT[k]}" for k in (0, 1, 2, 3, 4, 5, 6, 8)),
           lacking(9, "pic")), ""),
    ("no palette", jasc(COLOURS), [], {"a.png": make_png(5, 3, ROWS, before=()), "b.tga": make_tga(5, 3, ROWS,
     map_type=0), "c.bmp": make_bitmap(4, 4, bits=24, stream=bytes(48))}, 1,
     lines(*(f"{p}: no palette of its own to check; tessera-palette preview pal {p} OUT.png shows the frame it gives"
             for p in ("a.png", "b.tga")), "c.bmp: full colour, not palette indices, which tessera refuses; tessera-palette "
           "remap --nearest pal c.bmp OUT.png brings it into the palette, taking the nearest of the colours it lacks",
           "3 pictures: 0 ok, 3 differing, 0 unreadable"), ""),
    ("unreadable pictures among others", jasc(COLOURS), [], {"a.gif": picture("gif", COLOURS)[:-9],
     "b.bmp": picture("bmp", COLOURS), "missing.png": None}, 2, lines("b.bmp: ok", "3 pictures: 1 ok, 0 differing, 2 unreadable"),
     "a.gif: damaged or cut short\nmissing.png: no such file"),
    ("PSD colour mode data, ILBM CMAP", jasc(COLOURS), [], {"a": picture("psd", COLOURS), "b": picture("lbm",
     COLOURS), "c": picture("lbm", COLOURS[:9])}, 1, lines(
         "a: ok", "b: ok", "c: 1 index differs", f"  index 9: none, palette {COLOURS[9]}",
         "  the palette lacks 1 of its colours: tessera-palette remap --nearest pal c OUT.png takes the nearest",
         "3 pictures: 2 ok, 1 differing, 0 unreadable"), ""),
    ("Unicode names", jasc(COLOURS), [], {"Дерево 🌲.bmp": picture("bmp", COLOURS)}, 0, lines("Дерево 🌲.bmp: ok"), ""),
    *((f"{kind} picture as the palette", picture(kind, COLOURS), [], {"pic": picture("png", COLOURS)}, 0, OK, "")
      for kind in ("bmp", "png", "gif", "tga", "pcx", "psd", "lbm", "tif")),
    ("16-colour PCX as the palette", make_pcx(5, 3, bits=4)[:16] + rgb(COLOURS[:16]) + make_pcx(5, 3, bits=4)[64:], [],
     {"pic": picture("gif", COLOURS)}, 0, OK, ""),
    ("picture without a palette", make_png(5, 3, ROWS, before=()), [], {"pic": b""}, 2, "",
     "pal: a picture without a palette of its own"),
    ("JASC-PAL count above 256", jasc(COLOURS, count=257), [], {"pic": b""}, 2, "",
     "pal: line 3: not a count of 1 to 256 colours"),
    ("JASC-PAL short of its count", jasc(COLOURS[:4], count=5), [], {"pic": b""}, 2, "",
     "pal: cut short: 4 of 5 colours"),
    ("GIMP value above 255", gpl(COLOURS[:3]) + b"256 0 0 x\n", [], {"pic": b""}, 2, "",
     "pal: line 10: not a colour of three values 0 to 255"),
    ("GIMP 257 colours", gpl(COLOURS + [(1, 2, 3)]), [], {"pic": b""}, 2, "", "pal: line 263: more than 256 colours"),
    ("RIFF count past its data", riff(COLOURS[:4], count=5), [], {"pic": b""}, 2, "",
     "pal: cut short: a data chunk too short for its 5 colours"),
    ("RIFF without data", riff(COLOURS)[:24], [], {"pic": b""}, 2, "", "pal: a RIFF palette without a data chunk"),
    ("Adobe count 0", act(COLOURS, count=0), [], {"pic": b""}, 2, "", "pal: not a count of 1 to 256 colours: 0"),
    ("lines ending in blanks", jasc(COLOURS).replace(b"\r\n", b" \t\r\n"), [], {"pic": picture("gif", COLOURS)}, 0,
     OK, ""),
    ("not a picture", jasc(COLOURS), [], {"notes.txt": b"Notes: the tree wants a darker green, the bark more red.\n"},
     2, "", "notes.txt: not a palette picture tessera reads"),
    # 20 bytes: a screen of 46000 x 46000 with a background, and no image.
    ("GIF of a large screen and no image", jasc(COLOURS), [], {"pic": b"GIF89a\xb0\xb3\xb0\xb3\x80\5\0" + bytes(7)}, 2,
     "", "pic: damaged or cut short"),
    ("neither palette nor picture", b"just some text\n", [], {"pic": b""}, 2, "",
     "pal: not a palette file or a picture tessera reads"),
    ("lookup tables: entry 3 no colour, not checked", LOOKUP, [], {"pic": picture(
        "png", [(9, 9, 9) if k == 3 else c for k, c in enumerate(scaled(VGA, 6))])}, 0, OK, ""),
    ("NEWC tables, 6-bit values", NEWC, [], {"pic": picture("gif", [(9, 9, 9) if k in (3, 4) else c for k, c in
                                                                  enumerate(scaled(VGA, 6))])}, 1,
     lines("pic: 1 index differs", f"  index 4: (9, 9, 9), palette {scaled(VGA, 6)[4]}", lacking(1, "pic")), ""),
    ("lookup tables alone", NEWC, [], {}, 0, lines("pal: a palette of 255 colours"), ""),
    ("--depth for lookup tables", LOOKUP, ["--depth", "6"], {"pic": b""}, 2, "",
     "pal: --depth applies to a raw table of 768 bytes only"),
    ("230,148 bytes without NEWC", NEWC[:33536] + b"OLDC" + NEWC[33540:], [], {"pic": b""}, 2, "",
     "pal: not a palette file or a picture tessera reads"),
    *((f"{form} where a picture goes", jasc(COLOURS), [], {"a.gif": picture("gif", COLOURS), "t": data}, 2, "",
       "t: a palette file, where a picture goes: the palette comes first, as in tessera-palette check PALETTE PICTURE...")
      for form, data in (("raw table", rgb(VGA)), ("Adobe table", act(COLOURS)), ("lookup tables", LOOKUP),
                         ("NEWC tables", NEWC))),
    ("empty palette", b"", [], {"pic": b""}, 2, "", "pal: an empty file"),
    ("empty picture", jasc(COLOURS), [], {"pic": b""}, 2, "", "pic: an empty file"),
    ("palette a FIFO", FIFO, [], {"pic": b""}, 2, "", "pal: not a regular file"),
    ("picture a FIFO", jasc(COLOURS), [], {"pic": FIFO}, 2, "", "pic: not a regular file"),
    ("damaged palette picture", picture("png", COLOURS)[:60], [], {"pic": b""}, 2, "", "pal: damaged or cut short"),
]


SHORT = bytes([0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 0])
# (name, palette file, frame, status, the colours of its indices or standard error)
PREVIEW = [
    ("JASC-PAL", jasc(COLOURS), frame(5, 3, ROWS), 0, COLOURS),
    ("6-bit raw table", rgb(VGA), frame(5, 3, ROWS), 0, scaled(VGA, 6)),
    ("8 colours, 10 indices", gpl(COLOURS[:8]), frame(5, 3, ROWS), 0, COLOURS[:8] + [(0, 0, 0)] * 2),
    ("5-bit colour map", picture("tga", COLOURS, tga_bits=16), frame(15, 1, [SHORT]), 0,
     scaled([tuple(v >> 3 for v in c) for c in COLOURS], 5)),
    ("one row of 65535", riff(COLOURS), frame(65535, 1, [bytes(range(256)) * 255 + bytes(255)]), 0, COLOURS),
    ("no frame", jasc(COLOURS), None, 2, "in.frm: no such file"),
    ("shorter than its header", jasc(COLOURS), frame(5, 3, ROWS)[:70], 2,
     "in.frm: not a frame: shorter than the 74-byte header"),
    *((f"not tessera's frame: {why}", jasc(COLOURS), data, 2, "in.frm: not a single frame as tessera writes it; "
       "tessera-frm preview pal in.frm OUT.gif shows it") for why, data in (
        ("two frames", frame(5, 3, ROWS)[:9] + b"\2" + frame(5, 3, ROWS)[10:]),
        ("an fps", frame(5, 3, ROWS)[:5] + b"\x0a" + frame(5, 3, ROWS)[6:]),
        ("a pixel too many", frame(5, 3, ROWS) + b"\0"), ("a pixel short", frame(5, 3, ROWS)[:-1]))),
    ("empty frame", jasc(COLOURS), frame(0, 3, []), 2, "in.frm: an empty frame, which a PNG can't hold"),
    ("damaged palette", jasc(COLOURS)[:-30], frame(5, 3, ROWS), 2, "pal: line 257: not a colour of three values 0 to 255"),
    ("lookup tables: no colour shows black", LOOKUP, frame(5, 3, ROWS), 0,
     [(0, 0, 0) if k == 3 else c for k, c in enumerate(scaled(VGA, 6))]),
    ("empty file", jasc(COLOURS), b"", 2, "in.frm: an empty file"),
    ("a FIFO", jasc(COLOURS), FIFO, 2, "in.frm: not a regular file"),
    *((f"{kind} picture, not a frame", gpl(COLOURS), picture(kind, SWAPPED), 0, COLOURS) for kind in ("bmp", "png", "gif",
                                                                                                      "tga", "pcx")),
]


def gimp_rows():
    """A row for each of GIMP's own palettes (gimp-data): a picture of its
    colours matches it; one of more than 256 colours is refused."""
    for path in sorted(glob.glob("/usr/share/gimp/2.0/palettes/*.gpl")):
        with open(path, "rb") as f:
            text = f.read()
        numbered = [(number, line) for number, line in enumerate(text.split(b"\n"), 1)
                    if number > 1 and line[:1] in b" 0123456789" and line.strip()]
        colours = [tuple(map(int, line.split()[:3])) for _, line in numbered]
        name = f"GIMP's {os.path.basename(path)}"
        if len(colours) > 256:
            yield name, text, [], {"pic": b""}, 2, "", f"pal: line {numbered[256][0]}: more than 256 colours"
        else:
            rows = [bytes(k % len(colours) for k in row) for row in ROWS]
            yield name, text, [], {"pic": picture("bmp", colours, rows)}, 0, OK, ""


CHECK += list(gimp_rows())


def run_palette(case, *args):
    """Runs tessera-palette in the case directory: (status, stdout, stderr)."""
    return case.run_tool(target.palette_program, *args)


class Palette(Case):
    def setUp(self):
        if not target.palette_program:
            self.skipTest("end_to_end.py has no --palette-program")
        super().setUp()

    def test_check(self):
        for name, palette, options, pictures, status, out, err in CHECK:
            with self.subTest(name):
                self.fresh()
                place(self, "pal", palette)
                for picture_name, data in pictures.items():
                    place(self, picture_name, data)
                self.assertEqual(run_palette(self, "check", *options, "pal", *pictures),
                                 (status, out, err and err + "\n"))

    def test_check_agrees_with_pillow(self):
        """Every corpus picture Pillow reads as tessera does, against a grey
        ramp: the indices whose colours differ, as Pillow's getpalette() and
        getcolors() tell them."""
        self.put("grey.pal", bytes(k for k in range(256) for _ in range(3)))
        expected, chosen = [], corpus_pictures(self)
        for path, (_, palette, used, _, _) in chosen:
            colours = [tuple(palette[k:k + 3]) for k in range(0, len(palette), 3)]
            differ = [k for k in used if k >= len(colours) or colours[k] != (k, k, k)]
            shown = [f"  index {k}: {colours[k] if k < len(colours) else 'none'}, palette {(k, k, k)}"
                     for k in differ[:8]]
            count = f"{len(differ)} {'index differs' if len(differ) == 1 else 'indices differ'}"
            lack = len({colours[k] for k in differ if k < len(colours) and len(set(colours[k])) > 1}) + sum(
                k >= len(colours) for k in differ)
            shown += [lacking(lack, path, "grey.pal") if lack else in_order(path, "grey.pal")] if differ else []
            expected.append(f"{path}: {count if differ else 'ok'}" + "".join("\t" + line[2:] for line in shown))
        ok = sum(line.endswith(": ok") for line in expected)
        expected.append(f"{len(chosen)} pictures: {ok} ok, {len(chosen) - ok} differing, 0 unreadable")
        status, out, err = run_palette(self, "check", "grey.pal", *(path for path, _ in chosen))
        self.assertEqual((status, err), (1, ""))
        self.assertEqual(out.replace("\n  ", "\t").splitlines(), expected)

    def test_preview(self):
        made = {}
        for name, palette, frame_file, status, result in PREVIEW:
            with self.subTest(name):
                self.fresh()
                self.put("pal", palette)
                place(self, "in.frm", frame_file)
                found = run_palette(self, "preview", "pal", "in.frm", "out.png")
                self.assertEqual(found, (status, "out.png: a preview of in.frm\n" if status == 0 else "",
                                         "" if status == 0 else result + "\n"))
                left = {"pal", "in.frm", "out.png"} - ({"in.frm"} if frame_file is None else set()) - (
                    {"out.png"} if status else set())
                self.assertEqual(self.files(), left)  # no temporary file either
                if status == 0:  # the colours of a frame's indices, or of a picture's as Pillow reads them
                    indices = frame_file[74:] if frame_file[:4] == b"\0\0\0\4" else pillow(self, [self.path("in.frm")])[0][3][2]
                    made[name] = self.path("out.png"), b"".join(bytes(result[k]) for k in indices).hex()
        for (name, (_, colours)), (_, _, _, _, read) in zip(made.items(), pillow(self, [p for p, _ in made.values()])):
            with self.subTest(name, by="Pillow"):
                self.assertEqual(read, colours)

    def test_preview_agrees_with_pillow(self):
        """The frame of every corpus picture Pillow reads as tessera does,
        through that picture's own palette: the picture's colours. But
        pal8badindex.bmp uses indices past its colour table, which Pillow
        shows as whatever bytes follow the table, and a preview as black."""
        made = []
        for k, (path, (_, _, _, (width, height, pixels), colours)) in enumerate(corpus_pictures(self)):
            if "badindex" in path:
                continue
            self.put(f"{k}.frm", frame(width, height, [pixels[y * width:(y + 1) * width] for y in range(height)]))
            with self.subTest(path):
                self.assertEqual(run_palette(self, "preview", path, f"{k}.frm", f"{k}.png"),
                                 (0, f"{k}.png: a preview of {k}.frm\n", ""))
                made.append((path, self.path(f"{k}.png"), colours))
        for (path, _, colours), (_, _, _, _, read) in zip(made, pillow(self, [png for _, png, _ in made])):
            with self.subTest(path, by="Pillow"):
                self.assertEqual(read, colours)


def corpus_pictures(case):
    """The corpus pictures tessera converts whose indices Pillow reads as
    tessera does (the frame's digest), each with Pillow's reading; but not a
    TGA with a 5-bit colour map, which Pillow scales its own way."""
    rows = [row for name in ("expected.tsv", "pngsuite.tsv", "palette-pictures.tsv") for row in table(name)
            if row[1] == "0"]
    paths = [os.path.join(CORPUS, row[0]) for row in rows]
    chosen = []
    for path, row, read in zip(paths, rows, pillow(case, paths)):
        width, height, pixels = read[3]
        frame_file = frame(width, height, [pixels[y * width:(y + 1) * width] for y in range(height)])
        with open(path, "rb") as f:
            five_bit = path.endswith(".tga") and f.read(8)[7] in (15, 16)
        if read[0] == "P" and not five_bit and hashlib.sha256(frame_file).hexdigest() == row[4]:
            chosen.append((path, read))
    case.assertGreater(len(chosen), 230)
    return chosen


PILLOW = """import sys, PIL.Image
for path in sys.argv[1:]:
    try:
        p = PIL.Image.open(path); p.load()
        used = sorted(i for _, i in p.getcolors(256)) if p.mode == "P" else []
        print(p.mode, bytes(p.getpalette() or []).hex(), ",".join(map(str, used)), p.tobytes().hex(),
              p.convert("RGB").tobytes().hex(), p.size[0], p.size[1])
    except Exception:
        print("- - - - - 0 0")
"""


def pillow(case, paths):
    """Pillow's reading of each picture: (mode, palette, indices used,
    (width, height, indices), colours as hex); skips the case where no
    Python here has Pillow."""
    python = next((p for p in (sys.executable, "/usr/bin/python3") if subprocess.run(
        [p, "-c", "import PIL"], capture_output=True).returncode == 0), None)
    if python is None:
        case.skipTest("no Python here has Pillow")
    out = subprocess.run([python, "-c", PILLOW, *paths], capture_output=True, text=True, check=True).stdout
    found = []
    for line in out.splitlines():
        mode, palette, used, pixels, colours, width, height = line.split(" ")
        indexed = mode == "P"
        found.append((mode, bytes.fromhex(palette) if indexed else b"", [int(k) for k in used.split(",") if indexed],
                      (int(width), int(height), bytes.fromhex(pixels) if indexed else b""), colours))
    return found
