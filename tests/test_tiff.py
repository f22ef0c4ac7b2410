"""Palette TIFF files: every compression and bit depth in both byte orders,
the predictor, strips and tiles of every size, extra samples in one plane or
their own, what a reader of the first page passes over, and every stop and
refusal with the earlier frame kept."""

import zlib

from harness import Case, frame, make_tiff, random_rows, tiff_lzw

W, H = 9, 7


def tiff(width, height, bits=8, **options):
    rows = random_rows(width, height, bits)
    return make_tiff(width, height, rows, bits, **options), frame(width, height, rows)


def tags(**entries):
    return make_tiff(W, H, tags={int(tag[1:]): entry for tag, entry in entries.items()})


def codes(*values):
    """9-bit LZW codes, most significant bit first."""
    bits = len(values) * 9
    return (int("".join(f"{value:09b}" for value in values), 2) << -bits % 8).to_bytes((bits + 7) // 8, "big")


PIXELS = b"".join(random_rows(W, H))

# (name, file, the frame it gives or the code it stops with, whether Pillow
# reads it alike: it reads no planes of their own, gives extra samples as
# colours, turns the picture by its orientation, takes the last of a tag given
# twice, and refuses LZW whose full table is never cleared)
CASES = [
    *((f"compression {kind}, {bits} bits, {'big' if order == '>' else 'little'}-endian",
       *tiff(W, H, bits, compression=kind, order=order, strip_rows=3), True)
      for kind in (1, 5, 8, 32946, 32773) for bits in (1, 2, 4, 8) for order in "<>"),
    *((f"strips of {rows} rows, compression {kind}", *tiff(W, H, 4, compression=kind, strip_rows=rows), True)
      for rows in (1, 2, 7, 1000) for kind in (1, 5)),
    *((f"tiles of {side}, compression {kind}, {bits} bits", *tiff(37, 21, bits, compression=kind, tile=(side, side)),
       True) for side in (1, 16, 64) for kind in (1, 5, 8, 32773) for bits in (2, 8)),
    *((f"predictor 2, compression {kind}, {samples} samples, planar {planar}",
       *tiff(W, H, compression=kind, predictor=2, samples=samples, planar=planar), samples == 1)
      for kind in (5, 8) for samples, planar in [(1, 1), (2, 1), (3, 2)]),
    *((f"predictor 2 with compression {kind}: ignored", *tiff(W, H, 4, compression=kind, tags={317: (3, [2])}),
       True) for kind in (1, 32773)),
    *((f"{bits} bits, {samples} samples, planar {planar}", *tiff(W, H, bits, samples=samples, planar=planar,
                                                                compression=5, strip_rows=3), False)
      for bits in (2, 8) for samples, planar in [(2, 1), (2, 2), (4, 1), (4, 2)]),
    ("LZW table full, cleared", *tiff(200, 100, compression=5), True),
    ("LZW table full, never cleared",
     *tiff(200, 100, compression=5, compress=lambda data: tiff_lzw(data, False)), False),
    ("no RowsPerStrip", *tiff(W, H, tags={278: None}), True),
    ("uncompressed, no byte counts", *tiff(W, H, tags={279: None}), True),
    ("offsets as SHORT, width as BYTE", *tiff(W, H, tags={273: (3, [8]), 256: (1, [W])}), False),
    ("orientation 3, rows as stored", *tiff(W, H, tags={274: (3, [3])}), False),
    ("a tag given twice: the first counts", *tiff(W, H, duplicate=[(256, (3, [1])), (259, (3, [5]))]), False),
    ("a tag of no values is absent", *tiff(W, H, 1, tags={258: (3, 0, 0)}), True),
    ("no ColorMap, no SampleFormat", *tiff(W, H, tags={320: None, 339: None}), False),
    ("a second page", *tiff(W, H, next_page=True), True),
    ("BigTIFF, little-endian", b"II+\0" + bytes(12), 201, False),
    ("BigTIFF, big-endian", b"MM\0+" + bytes(12), 201, False),
    *((f"Photometric {value}", tags(t262=(3, [value])), 201, False) for value in (0, 1, 2, 5)),
    ("no Photometric", tags(t262=None), 201, False),
    ("2 samples, no ExtraSamples", make_tiff(W, H, samples=2, tags={338: None}), 201, False),
    ("0 samples", tags(t277=(3, [0])), 201, False),
    *((f"{bits} bits", tags(t258=(3, [bits])), 201, False) for bits in (0, 3, 16)),
    ("bits 8 and 4", make_tiff(W, H, samples=2, tags={258: (3, [8, 4])}), 201, False),
    *((f"SampleFormat {value}", tags(t339=(3, [value])), 201, False) for value in (2, 3)),
    *((f"compression {kind}", tags(t259=(3, [kind])), 201, False) for kind in (2, 3, 4, 6, 7, 34925, 50000)),
    ("planar 3", tags(t284=(3, [3])), 201, False),
    ("FillOrder 2", tags(t266=(3, [2])), 201, False),
    ("predictor 3", make_tiff(W, H, compression=5, predictor=3), 201, False),
    ("predictor 2, 4 bits", make_tiff(W, H, bits=4, compression=8, predictor=2), 201, False),
    *((f"size {width} x {height}", tags(t256=(4, [width]), t257=(4, [height])), 201, False)
      for width, height in [(0, 1), (1, 0), (65536, 1), (1, 65536)]),
    ("picture of 2^31 - 7 bytes or more", tags(t256=(3, [65535]), t257=(3, [32769])), 203, False),
    ("header cut", make_tiff(W, H)[:7], 100, False),
    ("directory past the end", b"II*\0" + (99).to_bytes(4, "little") + bytes(9), 100, False),
    ("directory cut", make_tiff(W, H)[:W * H + 30], 100, False),
    ("no ImageWidth", tags(t256=None), 100, False),
    ("no ImageLength", tags(t257=None), 100, False),
    ("ImageWidth a RATIONAL", tags(t256=(5, 1, 9)), 100, False),
    ("BitsPerSample past the end", tags(t258=(3, 4, 9999)), 100, False),
    ("RowsPerStrip 0", tags(t278=(3, [0])), 100, False),
    ("TileLength 0", make_tiff(W, H, tile=(16, 16), tags={323: (3, [0])}), 100, False),
    ("no TileLength", make_tiff(W, H, tile=(16, 16), tags={323: None}), 100, False),
    ("too few offsets", make_tiff(W, H, strip_rows=3, tags={273: (4, [8, 35])}), 100, False),
    ("too few offsets, planar 2", make_tiff(W, H, samples=2, planar=2, tags={273: (4, [8])}), 100, False),
    ("no offsets", tags(t273=None), 100, False),
    ("too few byte counts", make_tiff(W, H, bits=1, compression=5, tags={279: None}), 100, False),
    ("strip past the end", tags(t273=(4, [9999])), 100, False),
    ("byte count past the end", tags(t279=(4, [9999])), 100, False),
    ("uncompressed strip short", tags(t279=(4, [W * H - 1])), 100, False),
    ("PackBits ends", make_tiff(W, H, compression=32773, data=b"\x02abc"), 100, False),
    ("PackBits literal cut", make_tiff(W, H, compression=32773, data=b"\x7fab"), 100, False),
    ("PackBits repeat without its byte", make_tiff(W, H, compression=32773, data=b"\xc0"), 100, False),
    ("LZW codes end", make_tiff(W, H, compression=5, data=tiff_lzw(PIXELS)[:-4]), 100, False),
    ("LZW end code early", make_tiff(W, H, compression=5, data=tiff_lzw(bytes(W * H - 1))), 100, False),
    ("LZW code past the next free entry", make_tiff(W, H, compression=5, data=codes(256, 0, 259)), 100, False),
    ("LZW next free code first", make_tiff(W, H, compression=5, data=codes(256, 258)), 100, False),
    ("deflate stream ends", make_tiff(W, H, compression=8, data=zlib.compress(PIXELS)[:-8]), 100, False),
    ("deflate stream damaged", make_tiff(W, H, compression=8, data=b"\x78\x9c\xff" + bytes(40)), 100, False),
    ("deflate stream's end before the strip's", make_tiff(W, H, compression=8, data=zlib.compress(bytes(9))), 100,
     False),
]


class Tiff(Case):
    def test_every_case(self):
        pillow = []
        for name, data, expected, as_pillow in CASES:
            with self.subTest(name):
                self.fresh()
                if isinstance(expected, int):
                    self.stop(data, expected)
                    continue
                self.assert_converted(*self.convert(data, "C:\\art\\pic.tif"), "pic.frm", expected)
                if as_pillow:
                    path = self.path(f"../{self.dir[-8:]}.tif")
                    self.put(path, data)
                    pillow.append((name, path, expected))
        for (name, _, expected), line in zip(pillow, self.pillow_reads([path for _, path, _ in pillow])):
            with self.subTest(name, by="Pillow"):
                self.assertEqual(line, f"P {expected[74:].hex()}")
