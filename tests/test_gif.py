"""GIF files: every code size, interlaced or not, images that don't cover the
screen, what may come before and after the image, and every stop with the
earlier frame kept."""

import struct

from harness import Case, frame, gif_image, lzw, make_gif, random_rows, sample_rows, sub_blocks


def converted(width, height, bits=8, **options):
    rows = random_rows(width, height, bits)
    return make_gif(width, height, rows, code_size=max(bits, 2), **options), frame(width, height, rows)


def codes(*pairs):
    """LZW codes of the given widths, packed into sub-blocks."""
    value, shift = 0, 0
    for code, width in pairs:
        value, shift = value | code << shift, shift + width
    return sub_blocks(value.to_bytes((shift + 7) // 8, "little"))


def screen_of(width, height, fill, *images):
    """The frame of a screen of `fill` with (left, top, rows) painted on it."""
    screen = [bytearray([fill] * width) for _ in range(height)]
    for left, top, rows in images:
        for y, row in enumerate(rows):
            for x, index in enumerate(row):
                if top + y < height and left + x < width:
                    screen[top + y][left + x] = index
    return frame(width, height, screen)


W, H = 5, 3
ROWS = sample_rows(W, H)
PIXELS = b"".join(ROWS)
SMALL = random_rows(3, 2)
TALL = random_rows(3, 7)
GCE = b"\x21\xf9\x04\x05\x0a\x00\x07\x00"
EXTENSIONS = [GCE, b"\x21\xfe" + sub_blocks(b"drawn by hand"), b"\x21\xff" + sub_blocks(b"NETSCAPE2.0\x01\0\0", 11),
              b"\x21\x01" + sub_blocks(bytes(12) + b"plain text")]
IMAGE = gif_image(W, H, ROWS)
SOLID = [bytes([3]) * 40] * 3  # runs of one index: codes the decoder meets before it has them

# (name, GIF, the frame it gives or the code it stops with); the names in
# NOT_AS_PILLOW are the ones Pillow reads otherwise (uncovered pixels, a cut
# file) or not at all.
CASES = [
    *((f"code size {bits}, {width}x{height}", *converted(width, height, bits))
      for bits in range(1, 9) for width, height in [(1, 1), (3, 5), (64, 64)]),
    *((f"interlaced, {height} rows", *converted(4, height, 4, interlace=True)) for height in range(1, 10)),
    ("GIF87a", *converted(9, 4, version=b"GIF87a")),
    ("a clear code after every code", *converted(9, 7, 2, clear_every=1)),
    ("a clear code every 300 codes", *converted(200, 100, clear_every=300)),
    ("full table, cleared", *converted(200, 100)),
    ("full table, never cleared", *converted(200, 100, 3, reset_when_full=False)),
    ("runs of one index", make_gif(40, 3, SOLID, code_size=2), frame(40, 3, SOLID)),
    ("local colour table", make_gif(W, H, ROWS, local=True), frame(W, H, ROWS)),
    ("extensions before the image", make_gif(W, H, blocks=[*EXTENSIONS, IMAGE]), frame(W, H, ROWS)),
    ("a second image", make_gif(W, H, blocks=[IMAGE, GCE, gif_image(W, H, SMALL)]), frame(W, H, ROWS)),
    ("smaller than the screen", make_gif(6, 4, blocks=[gif_image(3, 2, SMALL, 2, 1)], background=7),
     screen_of(6, 4, 7, (2, 1, SMALL))),
    ("smaller, no global table", make_gif(6, 4, blocks=[gif_image(3, 2, SMALL, 2, 1, local=True)], background=7,
                                          global_table=False), screen_of(6, 4, 0, (2, 1, SMALL))),
    ("interlaced, smaller than the screen", make_gif(6, 9, blocks=[gif_image(3, 7, TALL, 2, 1, interlace=True)],
                                                     background=7), screen_of(6, 9, 7, (2, 1, TALL))),
    ("interlaced, whole rows from row 2", make_gif(3, 9, blocks=[gif_image(3, 7, TALL, 0, 2, interlace=True)],
                                                   background=7), screen_of(3, 9, 7, (0, 2, TALL))),
    ("off the screen's corner", make_gif(4, 3, blocks=[gif_image(3, 2, SMALL, 2, 2)], background=1),
     screen_of(4, 3, 1, (2, 2, SMALL))),
    ("wholly off the screen", make_gif(4, 3, blocks=[gif_image(3, 2, SMALL, 4, 0)], background=1),
     screen_of(4, 3, 1)),
    ("image of width 0, nothing after it", make_gif(4, 3, blocks=[struct.pack("<BHHHHB", 0x2C, 0, 0, 0, 3, 0)],
                                                    background=2)[:-1], screen_of(4, 3, 2)),
    ("image of height 0", make_gif(4, 3, blocks=[struct.pack("<BHHHHB", 0x2C, 0, 0, 3, 0, 0)]), screen_of(4, 3, 0)),
    ("cut inside the last sub-block, after the image", make_gif(
        W, H, data=sub_blocks(lzw(PIXELS, 8) + bytes(9)))[:-7], frame(W, H, ROWS)),
    ("no end code, no trailer", make_gif(W, H, data=codes((256, 9), *((i, 9) for i in PIXELS)))[:-2],
     frame(W, H, ROWS)),
    ("garbage after the image", make_gif(W, H, blocks=[IMAGE, b"\x99garbage"]), frame(W, H, ROWS)),
    ("screen width 0: the image's", make_gif(0, H, blocks=[IMAGE]), frame(W, H, ROWS)),
    ("screen height 0: the image's", make_gif(W, 0, blocks=[IMAGE]), frame(W, H, ROWS)),
    ("screen 0 x 0: to the image's far edges", make_gif(0, 0, blocks=[gif_image(3, 2, SMALL, 2, 1)], background=7),
     screen_of(5, 3, 7, (2, 1, SMALL))),
    ("screen 0 x 0, image 0 x 0", make_gif(0, 0, blocks=[struct.pack("<BHHHHB", 0x2C, 0, 0, 0, 0, 0)]), 201),
    ("screen width 0, far edge past 65535", make_gif(0, H, blocks=[gif_image(W, H, ROWS, 65535)]), 201),
    ("screen of 2^31 - 7 bytes or more", make_gif(65535, 32769, blocks=[IMAGE[:10]]), 203),
    ("signature alone", b"GIF89a", 100),
    ("screen descriptor cut", make_gif(W, H)[:12], 100),
    ("global colour table cut", make_gif(W, H)[:400], 100),
    ("trailer before the image", make_gif(W, H, blocks=[]), 100),
    ("unknown block", make_gif(W, H, blocks=[b"\x00", IMAGE]), 100),
    ("end of file before the image", make_gif(W, H, blocks=EXTENSIONS)[:-1], 100),
    ("extension cut", make_gif(W, H, blocks=[EXTENSIONS[1][:-3]])[:-1], 100),
    ("image descriptor cut", make_gif(W, H, blocks=[IMAGE[:7]])[:-1], 100),
    ("local colour table cut", make_gif(W, H, blocks=[gif_image(W, H, ROWS, local=True)[:300]])[:-1], 100),
    ("no code size", make_gif(W, H, blocks=[IMAGE[:10]])[:-1], 100),
    *((f"code size {size}", make_gif(W, H, code_size=size, data=IMAGE[11:]), 100) for size in (0, 1, 9, 12)),
    ("a code past the next free entry", make_gif(W, H, code_size=2, data=codes((4, 3), (1, 3), (7, 3))), 100),
    ("the next free code first", make_gif(W, H, code_size=2, data=codes((4, 3), (6, 3))), 100),
    ("the next free code first, no clear code", make_gif(W, H, code_size=2, data=codes((6, 3))), 100),
    ("the next free code after a clear code", make_gif(W, H, code_size=2, data=codes((1, 3), (4, 3), (6, 3))), 100),
    ("end code before the image is complete", make_gif(W, H, data=sub_blocks(lzw(PIXELS[:-1], 8))), 100),
    ("last sub-block before the image is complete", make_gif(W, H, data=sub_blocks(lzw(PIXELS, 8)[:-4])), 100),
    ("end of file inside the image data", make_gif(W, H)[:-12], 100),
]
NOT_AS_PILLOW = {"screen 0 x 0: to the image's far edges", "smaller than the screen",
                 "interlaced, smaller than the screen", "interlaced, whole rows from row 2", "smaller, no global table",
                 "off the screen's corner",
                 "wholly off the screen", "image of width 0, nothing after it", "image of height 0",
                 "cut inside the last sub-block, after the image", "no end code, no trailer"}


class Gif(Case):
    def test_every_case(self):
        pillow = []
        for name, gif, expected in CASES:
            with self.subTest(name):
                self.fresh()
                if isinstance(expected, int):
                    self.stop(gif, expected)
                    continue
                self.assert_converted(*self.convert(gif, "C:\\art\\pic.gif"), "pic.frm", expected)
                if name not in NOT_AS_PILLOW:
                    self.put(f"../{self.dir[-8:]}.gif", gif)
                    pillow.append((name, self.path(f"../{self.dir[-8:]}.gif"), expected))
        for (name, _, expected), line in zip(pillow, self.pillow_reads([path for _, path, _ in pillow])):
            with self.subTest(name, by="Pillow"):
                self.assertEqual(line, f"P {expected[74:].hex()}")
