"""Indexed Photoshop documents and IFF ILBM/PBM pictures: raw and packed,
every plane count, layers and chunks passed over, and every stop with the
earlier frame kept."""

import struct

import test_tga_pcx
from harness import Case, frame, iff_chunk, make_iff, make_psd, random_rows

W, H = 7, 3
ROWS = random_rows(W, H)
RUNS = [bytes([1] * 200 + [2] * 7), bytes([2] * 100 + [3] * 107), bytes(range(207))]  # runs and literals across rows
LAYER = (struct.pack(">hiiiiHhI4s4sBBBBIIIB3s", 1, 0, 1, 2, 3, 1, 0, 6, b"8BIM", b"norm", 255, 0, 0, 0, 12, 0, 0, 3,
                     b"top") + struct.pack(">H", 0) + bytes([9, 9, 9, 9]))  # one 2 x 2 layer of index 9 at (1, 0)
LAYERS = struct.pack(">I", len(LAYER)) + LAYER + bytes(4)


def psd(width, height, rows=None, **options):
    rows = rows or random_rows(width, height)
    return make_psd(width, height, rows, **options), frame(width, height, rows)


def iff(width, height, planes=8, rows=None, **options):
    rows = rows or random_rows(width, height, planes)
    return make_iff(width, height, rows, planes, **options), frame(width, height, rows)


def header(**fields):
    """A raw 7 x 3 PSD with some of its header fields changed."""
    values = dict(version=1, channels=1, height=H, width=W, depth=8, mode=2) | fields
    return struct.pack(">4sH6xHIIHH", b"8BPS", *values.values()) + make_psd(W, H, ROWS, rle=False)[26:]


def bmhd(width=W, height=H, planes=8, masking=0, compression=1, size=20):
    return struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, planes, masking, compression, 0, 0, 1, 1, 0, 0)[:size]


# (name, file, the frame it gives or the code it stops with, whether Pillow
# reads it as stored: it passes over the row counts of one channel only, and
# can't read IFF). Each check's own stop is in test_stops.py's table.
PSD = [
    *((f"{'RLE' if rle else 'raw'}, {width} x {height}, {channels} channels", *psd(width, height, rle=rle,
       channels=channels), not rle or channels == 1) for rle in (False, True) for width, height in [(1, 1), (W, H), (300, 2)]
      for channels in (1, 2)),
    ("runs and literals across rows", *psd(207, 3, RUNS), True),
    *((f"row counts of {count}", *psd(207, 3, RUNS, counts=[count] * 3), True) for count in (0, 1, 65535)),
    ("resources, layers and no palette", *psd(W, H, colours=b"", resources=b"8BIM" * 9, layers=b"\0" * 7), False),
    ("a layer over the merged picture", *psd(W, H, layers=LAYERS), True),
    ("a run past the last pixel", make_psd(2, 1, data=bytes([2, 0, 0xFE, 5])), frame(2, 1, [b"\5\5"]), False),
    *((f"{name} {value}", header(**{name: value}), 201, False) for name, value in [
        ("version", 2), ("version", 0), ("mode", 1), ("mode", 3), ("depth", 16), ("depth", 1), ("channels", 0),
        ("width", 0), ("height", 0), ("width", 65536), ("height", 1 << 31)]),
    *((f"compression {kind}", make_psd(W, H, compression=kind), 201, False) for kind in (2, 3, 4)),
]

BEFORE = [iff_chunk(b"ANNO", b"odd"), iff_chunk(b"CAMG", bytes(4)), iff_chunk(b"CMAP", bytes(48)),
          iff_chunk(b"BMHD", bmhd(planes=24)), iff_chunk(b"CAMG", b"")]
IFF = [
    *((f"ILBM, {planes} planes, {width} wide, {'ByteRun1' if rle else 'stored'}", *iff(width, H, planes, rle=rle),
       False) for planes in range(1, 9) for width in (1, 16, 17, 33) for rle in (True, False)),
    *((f"mask plane, masking {masking}", *iff(W, H, 4, masking=masking), False) for masking in (1, 2, 3)),
    *((f"PBM, {width} wide, {'ByteRun1' if rle else 'stored'}", *iff(width, H, pbm=True, rle=rle), False)
      for width in (1, 6, 7) for rle in (True, False)),
    ("runs across rows", *iff(207, 3, rows=RUNS, pbm=True), False),
    ("ByteRun1 a row at a time", *iff(W, H, 5, by_rows=True), False),
    ("chunks passed over, a second BMHD too", *iff(W, H, 3, before=BEFORE), False),
    ("more in BODY, and chunks after it", make_iff(W, H, pbm=True, rle=False, body=b"\0".join(ROWS) + bytes(99)) +
     iff_chunk(b"DCOL", b""), frame(W, H, ROWS), False),
    ("stored BODY short", make_iff(W, H, pbm=True, rle=False, body=b"\0".join(ROWS)) + bytes(9), 100, False),
    ("ByteRun1 BODY short", make_iff(W, H, ROWS, body=b"\xfe\0" * 10) + bytes(9), 100, False),
    ("literal past BODY's end", make_iff(W, H, body=b"\x14") + bytes(99), 100, False),
    *((f"{name}", make_iff(W, H, bmhd=bmhd(**fields)), 201, False) for name, fields in [
        ("ILBM of 0 planes", dict(planes=0)), ("ILBM of 9 planes", dict(planes=9)), ("masking 4", dict(masking=4)),
        ("compression 2", dict(compression=2)), ("width 0", dict(width=0)), ("height 0", dict(height=0))]),
    *((f"PBM, {name}", make_iff(W, H, pbm=True, bmhd=bmhd(**fields)), 201, False)
      for name, fields in [("4 planes", dict(planes=4)), ("mask plane", dict(masking=1))]),
    *((f"{name}", make_iff(W, H, before=[chunk]), 201, False) for name, chunk in [
        ("HAM", iff_chunk(b"CAMG", struct.pack(">I", 0x800))), ("extra half-brite", iff_chunk(b"CAMG", b"\0\0\0\x80")),
        ("DCOL", iff_chunk(b"DCOL", bytes(4)))]),
]


class PsdIff(Case):
    check = test_tga_pcx.TgaPcx.check

    def test_psd(self):
        self.check(PSD, "pic.psd")

    def test_iff(self):
        self.check(IFF, "pic.lbm")
