"""Every picture of the bitmap corpus, with its known outcome, and every
palettized one against the corpus's own rendering of it."""

import hashlib
import itertools
import os
import struct
import zlib

from harness import CORPUS, INPUT, PNG, Case, png_passes, png_predict, target


def table(name):
    with open(os.path.join(CORPUS, name)) as f:
        return [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]


def chunks(data):
    """The (type, data) of each chunk of a PNG file."""
    at = 8
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def read_png(path):
    """The colours of a grey or palette PNG of up to 8 bits a pixel, interlaced
    or not, as rows of (red, green, blue) triples."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == PNG, path
    found = dict(chunks(data))
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", found[b"IHDR"])
    assert colour in (0, 3) and depth <= 8, path
    raw = iter(zlib.decompress(b"".join(body for kind, body in chunks(data) if kind == b"IDAT")))
    rows = [[None] * width for _ in range(height)]
    for x0, y0, dx, dy in png_passes(interlace):
        columns, prior = range(x0, width, dx), None
        stride = (len(columns) * depth + 7) // 8
        for y in range(y0, height, dy) if columns else ():
            kind, line, prior = next(raw), bytearray(itertools.islice(raw, stride)), prior or bytes(stride)
            for x in range(stride):  # filters work on bytes; a pixel is at most one byte here
                left, above_left = (line[x - 1], prior[x - 1]) if x else (0, 0)
                line[x] = (line[x] + png_predict(kind, left, prior[x], above_left)) & 0xFF
            prior = line
            for k, x in enumerate(columns):
                value = line[k * depth // 8] >> (8 - depth - k * depth % 8) & ((1 << depth) - 1)
                grey = (value * 255 // ((1 << depth) - 1),) * 3
                rows[y][x] = tuple(found[b"PLTE"][value * 3:value * 3 + 3]) if colour == 3 else grey
    return rows


def run_table(case, name, least):
    """Converts every file the table `name` lists and checks its outcome;
    returns the frames by file."""
    rows, frames = table(name), {}
    case.assertGreater(len(rows), least)
    for path, status, output, length, digest in rows:
        with case.subTest(path):
            case.fresh()
            with open(os.path.join(CORPUS, path), "rb") as f:
                bitmap = f.read()
            got_status, out = case.convert(bitmap, os.path.basename(path))
            if status == "0":
                case.assertEqual((got_status, out), (0, b""))
                case.assertEqual(case.files(), {INPUT, output})
                frames[path] = data = case.read(output)
                case.assertEqual(len(data), int(length))
                case.assertEqual(hashlib.sha256(data).hexdigest(), digest)
            else:
                case.assert_stopped(got_status, out, int(status))
    return frames


class Corpus(Case):
    """Every picture of the outside corpus, with its known outcome."""

    def test_every_row(self):
        run_table(self, "expected.tsv", 80)

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


class PngSuite(Case):
    def test_every_row(self):
        """Each PNG's outcome; each frame's indices, looked up in the file's
        PLTE, give the picture's colours, and are the indices Pillow reads."""
        frames = run_table(self, "pngsuite.tsv", 170)
        self.assertEqual(len(frames), 63)
        paths = [os.path.join(CORPUS, path) for path in frames]
        for path, frame in zip(paths, frames.values()):
            with self.subTest(path):
                with open(path, "rb") as f:
                    palette = dict(chunks(f.read()))[b"PLTE"]
                width, height = struct.unpack_from(">HH", frame, 62)
                shown = [[tuple(palette[i * 3:i * 3 + 3]) for i in frame[74 + y * width:74 + (y + 1) * width]]
                         for y in range(height)]
                self.assertEqual(shown, read_png(path))
        read = self.pillow_reads(paths)
        for path, line, frame in zip(paths, read, frames.values()):
            with self.subTest(path, by="Pillow"):
                self.assertEqual(line, f"P {frame[74:].hex()}")


class PalettePictures(Case):
    def test_every_row(self):
        """GIF, TGA, PCX, PSD and IFF files other programs wrote: each one's
        outcome, and the indices Pillow reads where it reads the file as
        stored. Pillow reads a stored PCX as RLE, and some 2- and 4-bit PCX
        not at all; it reads no IFF."""
        for name, rows, converted, not_pillow in [("palette-pictures.tsv", 160, 159, (".pcx",)),
                                                  ("psd-iff.tsv", 110, 85, (".iff", ".lbm"))]:
            frames = run_table(self, name, rows)
            self.assertEqual(len(frames), converted)
            paths = [os.path.join(CORPUS, path) for path in frames if not path.endswith(not_pillow)]
            for path, line in zip(paths, self.pillow_reads(paths)):
                with self.subTest(path, by="Pillow"):
                    self.assertEqual(line, f"P {frames[os.path.relpath(path, CORPUS)][74:].hex()}")


class TiffPictures(Case):
    def test_every_row(self):
        """TIFF files other programs wrote: each one's outcome, and the
        indices Pillow reads, which it reads for all but GDAL's files of one
        sample in a plane of its own."""
        frames = run_table(self, "tiff.tsv", 390)
        self.assertEqual(len(frames), 278)
        paths = [os.path.join(CORPUS, path) for path in frames if "band_interleave" not in path]
        self.assertEqual(len(paths), 276)
        for path, line in zip(paths, self.pillow_reads(paths)):
            with self.subTest(path, by="Pillow"):
                self.assertEqual(line, f"P {frames[os.path.relpath(path, CORPUS)][74:].hex()}")


class Animations(Case):
    def test_every_row(self):
        """Each animated GIF other programs wrote, made into an FRM of its
        frames composited on the screen: its status, its header's counts and
        the whole file's bytes. A file that can't be read leaves no FRM."""
        if not target.frm_program:
            self.skipTest("end_to_end.py has no --frm-program")
        rows = table("animations.tsv")
        self.assertEqual(len(rows), 222)
        for path, status, frames, fps, length, digest in rows:
            with self.subTest(path):
                self.fresh()
                name = os.path.basename(path)
                with open(os.path.join(CORPUS, path), "rb") as f:
                    gif = f.read()
                self.put(name, gif)
                got, _, err = self.run_frm("make", "out.frm", name)
                self.assertEqual(got, int(status), err)
                self.assertEqual(self.read(name), gif)
                if status != "0":
                    self.assertIn(name, err)
                    self.assertEqual(self.files(), {name})
                    continue
                self.assertEqual(self.files(), {name, "out.frm"})
                frm = self.read("out.frm")
                self.assertEqual(struct.unpack_from(">IHHH", frm), (4, int(fps), 0, int(frames)))
                self.assertEqual(len(frm), int(length))
                self.assertEqual(hashlib.sha256(frm).hexdigest(), digest)
