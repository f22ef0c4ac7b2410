"""Every picture of the bitmap corpus, with its known outcome, and every
palettized one against the corpus's own rendering of it."""

import hashlib
import os
import struct
import zlib

from harness import CORPUS, INPUT, Case


def table(name):
    with open(os.path.join(CORPUS, name)) as f:
        return [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]


def read_png(path):
    """The colours of a non-interlaced grey or palette PNG of up to 8 bits a
    pixel, as rows of (red, green, blue) triples."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, compressed, palette = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert colour in (0, 3) and depth <= 8 and not interlace, path
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            compressed += body
    raw = zlib.decompress(compressed)
    stride = (width * depth + 7) // 8
    rows, prior = [], bytes(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):  # filters work on bytes; a pixel is at most one byte here
            a, b, c = line[x - 1] if x else 0, prior[x], prior[x - 1] if x else 0
            p = a + b - c
            guess = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
            line[x] = (line[x] + [0, a, b, (a + b) // 2, guess][kind]) & 0xFF
        prior = line
        values = [line[x * depth // 8] >> (8 - depth - x * depth % 8) & ((1 << depth) - 1) for x in range(width)]
        grey = 255 // ((1 << depth) - 1)
        rows.append([palette[v] if colour == 3 else (v * grey,) * 3 for v in values])
    return rows


class Corpus(Case):
    """Every picture of the outside corpus, with its known outcome."""

    def test_every_row(self):
        rows = table("expected.tsv")
        self.assertGreater(len(rows), 80)
        for path, status, name, length, digest in rows:
            with self.subTest(path):
                self.fresh()
                with open(os.path.join(CORPUS, path), "rb") as f:
                    bitmap = f.read()
                got_status, out = self.convert(bitmap, os.path.basename(path))
                if status == "0":
                    self.assertEqual((got_status, out), (0, b""))
                    self.assertEqual(self.files(), {INPUT, name})
                    data = self.read(name)
                    self.assertEqual(len(data), int(length))
                    self.assertEqual(hashlib.sha256(data).hexdigest(), digest)
                else:
                    self.assert_stopped(got_status, out, int(status))

    def test_palettized_pictures_show_as_their_renderings(self):
        """Each frame's indices, looked up in the bitmap's own colour table,
        give the colours of the corpus's rendering."""
        rows = table("reference.tsv")
        self.assertGreater(len(rows), 30)
        for path, rendering in rows:
            with self.subTest(path):
                self.fresh()
                with open(os.path.join(CORPUS, path), "rb") as f:
                    bitmap = f.read()
                status, out = self.convert(bitmap, "pic.bmp")
                self.assertEqual((status, out), (0, b""))
                frame = self.read("pic.frm")
                width, height = struct.unpack_from(">HH", frame, 62)
                header_size, = struct.unpack_from("<I", bitmap, 14)
                entry = 3 if header_size == 12 else 4
                table_at = 14 + header_size
                colours = [bitmap[table_at + i * entry:table_at + i * entry + 3][::-1] for i in range(256)]
                shown = [[tuple(colours[index]) for index in frame[74 + y * width:74 + (y + 1) * width]]
                         for y in range(height)]
                self.assertEqual(shown, read_png(os.path.join(CORPUS, "reference", rendering)))
