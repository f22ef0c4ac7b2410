"""Indexed PNG files: every depth, filter and interlace method, how the chunks
may lie, and every stop with the earlier frame kept."""

import struct
import zlib

from harness import (PLTE, PNG, Case, damaged, frame, ihdr, make_png, png_chunk, png_image_data, random_rows,
                     sample_rows)


W, H = 5, 3
ROWS = sample_rows(W, H)
DATA = png_image_data(W, H, ROWS)
STREAM = zlib.compress(DATA)
IDAT = png_chunk(b"IDAT", STREAM)
TEXT = png_chunk(b"tEXt", b"Comment\0drawn by hand")
ANIMATION = [png_chunk(b"acTL", struct.pack(">II", 2, 0)),
             png_chunk(b"fcTL", struct.pack(">IIIIIHHBB", 0, W, H, 0, 0, 1, 10, 0, 0))]


def stored(data):
    """A stored deflate block, not the last one."""
    return struct.pack("<BHH", 0, len(data), len(data) ^ 0xFFFF) + data


def pictures():
    """(name, PNG, frame) of every depth and interlace method, in sizes whose
    Adam7 passes are partly empty, each filter type on every row."""
    for depth in (1, 2, 4, 8):
        for interlace in (0, 1):
            for width, height in [(1, 1), (3, 5), (9, 2), (33, 7)]:
                rows = random_rows(width, height, depth)
                for kind in range(5):
                    yield (f"{width}x{height}, {depth} bits, interlace {interlace}, filter {kind}",
                           make_png(width, height, rows, depth, interlace, (kind,)), frame(width, height, rows))


def converted(width, height, depth=8, interlace=0, **png):
    rows = random_rows(width, height, depth)
    return make_png(width, height, rows, depth, interlace, (0, 1, 2, 3, 4), **png), frame(width, height, rows)


# (name, PNG, the frame it gives or the code it stops with)
CASES = [
    *pictures(),
    ("IDAT chunks of 1 byte", *converted(33, 7, 4, 1, split=1)),
    ("stored blocks in 7-byte IDAT chunks", *converted(9, 9, 2, 1, level=0, split=7)),
    ("stored blocks, more than one", *converted(300, 250, level=0)),
    ("65535 wide", *converted(65535, 2, 2, 1)),
    ("ancillary and unknown chunks before the image", make_png(W, H, before=(
        TEXT, png_chunk(b"gAMA", bytes(4)), PLTE, png_chunk(b"tRNS", b"\0"), b"prVt", b"zzzz", b"1abc")), frame(W, H, ROWS)),
    ("no PLTE", make_png(W, H, before=()), frame(W, H, ROWS)),
    ("indices past the PLTE", make_png(W, H, before=(png_chunk(b"PLTE", bytes(6)),)), frame(W, H, ROWS)),
    ("no IEND", make_png(W, H, after=()), frame(W, H, ROWS)),
    ("empty IDAT chunks", make_png(W, H, stream=b"", after=(
        b"IDAT", png_chunk(b"IDAT", STREAM[:3]), b"IDAT", png_chunk(b"IDAT", STREAM[3:]))), frame(W, H, ROWS)),
    ("damaged chunk after the image", make_png(W, H, after=(damaged(TEXT), b"IEND")), frame(W, H, ROWS)),
    ("damaged IEND", make_png(W, H, after=(damaged(png_chunk(b"IEND")),)), frame(W, H, ROWS)),
    ("critical chunk after the image", make_png(W, H, after=(b"CgBI",)), frame(W, H, ROWS)),
    ("damaged IDAT holding only the stream's checksum", make_png(
        W, H, stream=STREAM[:-4], after=(damaged(png_chunk(b"IDAT", STREAM[-4:])),)), frame(W, H, ROWS)),
    ("wrong checksum of the stream", make_png(W, H, stream=STREAM[:-4] + bytes(4)), frame(W, H, ROWS)),
    ("garbage after the stream", make_png(W, H, stream=STREAM + b"garbage"), frame(W, H, ROWS)),
    ("bad deflate data after the picture", make_png(W, H, stream=b"\x78\x01" + stored(DATA) + b"\7"),
     frame(W, H, ROWS)),
    ("stream longer than the picture", make_png(W, H, data=DATA + bytes(99)), frame(W, H, ROWS)),
    ("animated: the default image", make_png(W, H, before=(*ANIMATION, PLTE), after=(
        ANIMATION[1], png_chunk(b"fdAT", bytes(4) + STREAM), b"IEND")), frame(W, H, ROWS)),
    ("7 bytes of the signature: a bitmap cut short", PNG[:7], 100),
    ("signature only", PNG, 100),
    ("chunk header cut short", PNG + ihdr(W, H)[:7], 100),
    ("chunk cut short", make_png(W, H)[:30], 100),
    ("chunk length past the end", make_png(W, H, before=(PLTE, b"\x7f\xff\xff\xfftEXt")), 100),
    ("chunk length 2^32 - 8", make_png(W, H, before=(PLTE, b"\xff\xff\xff\xf8tEXt")), 100),
    ("CRC of IHDR", make_png(W, H, head=damaged(ihdr(W, H))), 100),
    ("CRC of PLTE", make_png(W, H, before=(damaged(PLTE),)), 100),
    ("CRC of an ancillary chunk", make_png(W, H, before=(PLTE, damaged(TEXT))), 100),
    ("CRC of the first IDAT", make_png(W, H, stream=b"", after=(
        damaged(png_chunk(b"IDAT", STREAM[:4])), png_chunk(b"IDAT", STREAM[4:]))), 100),
    ("CRC of the IDAT that completes the picture", make_png(W, H, stream=b"", after=(damaged(IDAT),)), 100),
    ("first chunk PLTE", make_png(W, H, head=PLTE, before=(ihdr(W, H),)), 201),
    ("first chunk ancillary", make_png(W, H, head=TEXT, before=(ihdr(W, H), PLTE)), 201),
    ("IHDR of 12 bytes", make_png(W, H, head=ihdr(W, H, size=12)), 201),
    ("IHDR of 14 bytes", make_png(W, H, head=ihdr(W, H, size=14)), 201),
    *((f"IHDR {field}", make_png(W, H, head=ihdr(**{"width": W, "height": H, field: value})), 201) for field, value in [
        ("colour", 0), ("colour", 2), ("colour", 4), ("colour", 6), ("depth", 16), ("depth", 3), ("depth", 0),
        ("compression", 1), ("filter", 1), ("interlace", 2), ("width", 0), ("width", 65536), ("height", 0),
        ("height", 65536), ("width", 1 << 31)]),
    # Width x height, the image data (every row with its filter byte) or both
    # reach 2^31 - 7 bytes: refused before any image data is read.
    ("picture and image data too large", make_png(W, H, head=ihdr(65535, 65535)), 203),
    ("picture too large", make_png(W, H, head=ihdr(65535, 65535, 1)), 203),
    ("image data too large", make_png(W, H, head=ihdr(65535, 32768)), 203),
    ("image data too large with the passes' filter bytes", make_png(W, H, head=ihdr(32769, 65532, interlace=1)), 203),
    ("unknown critical chunk", make_png(W, H, before=(PLTE, b"CgBI")), 201),
    ("chunk type starting with 0", make_png(W, H, before=(PLTE, b"\0DAT")), 201),
    ("second IHDR", make_png(W, H, before=(PLTE, ihdr(W, H))), 201),
    ("IEND before IDAT", make_png(W, H, before=(PLTE, b"IEND")), 100),
    ("no IDAT", make_png(W, H, stream=b"", after=()), 100),
    ("IEND before the picture is complete", make_png(W, H, stream=STREAM[:9], after=(b"IEND",)), 100),
    ("ancillary chunk between IDATs", make_png(W, H, stream=b"", after=(
        png_chunk(b"IDAT", STREAM[:9]), TEXT, png_chunk(b"IDAT", STREAM[9:]))), 100),
    ("PLTE between IDATs", make_png(W, H, stream=b"", after=(
        png_chunk(b"IDAT", STREAM[:9]), PLTE, png_chunk(b"IDAT", STREAM[9:]))), 100),
    ("file ending before the picture is complete", make_png(W, H, stream=STREAM[:9], after=()), 100),
    ("zlib header", make_png(W, H, stream=b"\x78\x00" + STREAM[2:]), 100),
    ("zlib preset dictionary", make_png(W, H, stream=b"\x78\xbb" + bytes(4) + STREAM[2:]), 100),
    ("deflate block type 3", make_png(W, H, stream=b"\x78\x9c\xff" + STREAM[3:]), 100),
    ("stream ending before the picture is complete", make_png(W, H, data=DATA[:-1]), 100),
    ("filter type 5", make_png(W, H, data=b"\5" + DATA[1:]), 100),
    ("filter type 255 in the last pass", make_png(
        W, H, interlace=1, data=png_image_data(W, H, ROWS, interlace=1)[:-6] + b"\xff" + bytes(5)), 100),
]


class Png(Case):
    def test_every_case(self):
        for name, png, expected in CASES:
            with self.subTest(name):
                self.fresh()
                if isinstance(expected, int):
                    self.stop(png, expected)
                else:
                    self.assert_converted(*self.convert(png, "C:\\art\\pic.png"), "pic.frm", expected)
