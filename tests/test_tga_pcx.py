"""Colour-mapped TGA and PCX files: every depth and plane count, both
orientations, stored and run-length encoded, and every stop with the earlier
frame kept."""

import struct

from harness import Case, frame, make_pcx, make_tga, random_rows, sample_rows

W, H = 5, 3
ROWS = sample_rows(W, H)
RUNS = [bytes([1] * 200 + [2] * 7), bytes([2] * 100 + [3] * 107), bytes(range(207))]  # runs and packets across rows


def tga(width, height, rows=None, **options):
    rows = rows or random_rows(width, height)
    return make_tga(width, height, rows, **options), frame(width, height, rows)


def pcx(width, height, bits=8, planes=1, rows=None, **options):
    rows = rows or random_rows(width, height, bits * planes)
    return make_pcx(width, height, rows, bits, planes, **options), frame(width, height, rows)


# (name, file, the frame it gives or the code it stops with, whether Pillow
# reads it as stored: it reads a stored PCX as RLE, planes with a padding
# byte or more, a 15-bit colour map and runs across rows otherwise, and
# refuses 2- and 4-bit PCX)
TGA = [
    *((f"{'RLE' if rle else 'raw'}, {'top' if top else 'bottom'} row first{', right to left' if rtl else ''}",
       *tga(7, 4, rle=rle, top_down=top, right_to_left=rtl, across_rows=False), True)
      for rle in (False, True) for top in (False, True) for rtl in (False, True)),
    ("packets across rows", *tga(207, 3, RUNS, rle=True), False),
    ("packets across rows, top row first", *tga(207, 3, RUNS, rle=True, top_down=True), False),
    ("1 x 1 RLE", *tga(1, 1, rle=True), True),
    ("image id", *tga(W, H, image_id=b"made by hand"), True),
    ("15-bit colour map", *tga(W, H, entry_bits=15), False),
    ("32-bit colour map", *tga(W, H, entry_bits=32), False),
    ("no colour map, its fields ignored", *tga(W, H, map_type=0, entry_bits=0, map_length=999), False),
    ("a packet past the last pixel", make_tga(W, H, rle=True, data=bytes([0xFF, 9])), frame(W, H, [bytes([9] * W)] * H),
     False),
    ("footer and colour table after the picture", make_tga(W, H) + b"garbage" * 9, frame(W, H, ROWS), True),
    ("width 0, nothing after the header", make_tga(0, H, [b""] * H)[:18], frame(0, H, []), False),
    ("height 0", make_tga(W, 0, []), frame(W, 0, []), False),
    ("17-byte header", make_tga(W, H)[:17], 100, False),
    ("image id cut", make_tga(W, H, image_id=b"id")[:19], 100, False),
    ("colour map cut", make_tga(W, H)[:700], 100, False),
    ("raw pixels cut", make_tga(W, H)[:-1], 100, False),
    ("packet header missing", make_tga(W, H, rle=True, data=bytes([0x80, 1])), 100, False),
    ("run without its index", make_tga(W, H, rle=True, data=bytes([0x81, 1, 0x80])), 100, False),
    ("literal packet cut", make_tga(W, H, rle=True, data=bytes([0x0E]) + bytes(14)), 100, False),
    *((f"image type {kind}, depth {depth}", make_tga(W, H, image_type=kind, depth=depth), 201, False)
      for kind, depth in [(2, 24), (3, 8), (10, 32), (11, 8), (1, 16), (9, 15), (1, 24)]),
    ("picture of 2^31 - 7 bytes or more", make_tga(65535, 32769, [])[:18], 203, False),
]

PCX = [
    *((f"{bits} bits, {width} wide, {'RLE' if rle else 'stored'}", *pcx(width, 3, bits, rle=rle),
       bits == 8 and rle) for bits in (1, 2, 4, 8) for width in (1, 9, 17) for rle in (True, False)),
    *((f"1 bit, {planes} planes, {width} wide", *pcx(width, 3, 1, planes), planes != 3 and width == 9)
      for planes in (2, 3, 4) for width in (1, 9, 17)),
    ("runs across scan lines", *pcx(207, 3, rows=RUNS, across_lines=True), False),
    ("padding bytes", *pcx(W, H, line_bytes=40), False),
    ("padding bytes, planes", *pcx(W, H, 1, 4, line_bytes=9), False),
    ("a run of none", make_pcx(2, 1, data=bytes([0xC0, 7, 0xC2, 5])), frame(2, 1, [bytes([5, 5])]), False),
    ("a run past the last scan line", make_pcx(W, H, data=bytes([0xFF, 4])), frame(W, H, [bytes([4] * W)] * H), False),
    ("xmin and ymin, version 0", *pcx(W, H, xmin=100, ymin=7, version=0), False),
    ("256-colour table after the picture", make_pcx(W, H, ROWS) + b"\x0c" + bytes(768), frame(W, H, ROWS), True),
    ("127-byte header", make_pcx(W, H)[:127], 100, False),
    ("stored line cut", make_pcx(W, H, rle=False)[:-770], 100, False),
    ("RLE cut before a count's byte", make_pcx(W, H, data=bytes([0xC3])), 100, False),
    ("RLE cut", make_pcx(W, H, data=bytes([0xC3, 1])), 100, False),
    *((f"{bits} bits in {planes} planes", make_pcx(W, H, [b"\0" * W] * H, bits, planes), 201, False)
      for bits, planes in [(8, 3), (8, 4), (2, 2), (4, 4), (1, 5), (8, 0)]),
    ("xmax below xmin", make_pcx(W, H, xmin=10)[:8] + struct.pack("<H", 9) + make_pcx(W, H)[10:], 201, False),
    ("ymax below ymin", make_pcx(W, H, ymin=10)[:10] + struct.pack("<H", 9) + make_pcx(W, H)[12:], 201, False),
    ("65536 wide", make_pcx(1, 1, data=b"")[:8] + struct.pack("<H", 65535) + make_pcx(1, 1)[10:66] +
     struct.pack("<H", 65536 // 8) + bytes(60), 201, False),
    ("too few bytes a line", make_pcx(17, 1, line_bytes=2), 201, False),
    ("picture of 2^31 - 7 bytes or more", make_pcx(65535, 32769, [], line_bytes=65535), 203, False),
]


class TgaPcx(Case):
    def check(self, cases, name):
        pillow = []
        for case, data, expected, as_pillow in cases:
            with self.subTest(case):
                self.fresh()
                if isinstance(expected, int):
                    self.stop(data, expected)
                    continue
                self.assert_converted(*self.convert(data, f"C:\\art\\{name}"), "pic.frm", expected)
                if as_pillow:
                    path = self.path(f"../{self.dir[-8:]}-{name}")
                    self.put(path, data)
                    pillow.append((case, path, expected))
        for (case, _, expected), line in zip(pillow, self.pillow_reads([path for _, path, _ in pillow])):
            with self.subTest(case, by="Pillow"):
                self.assertEqual(line, f"P {expected[74:].hex()}")

    def test_tga(self):
        self.check(TGA, "pic.tga")

    def test_pcx(self):
        self.check(PCX, "pic.pcx")
