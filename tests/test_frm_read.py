"""tessera-frm info, explode and preview over FRMs built here: one table a
command, and explode -> make round trips. Skipped unless end_to_end.py is
given the program."""

import os
import struct
import unittest
import zlib

from harness import Case, frm_frame as F, make_frm, target
from test_corpus import chunks
from test_palette import FIFO, place

PALETTE = bytes(k // 12 for k in range(768))  # a raw table of 6-bit values
PLTE = bytes(k // 12 << 2 | k // 192 for k in range(768))
ONE = make_frm([[F(3, 2)]])
# Six directions of two frames, 4 sharing 1's, a frame of no pixels, shifts.
SIX = make_frm([[F(3, 2, offset=(2, 0)), F(2, 1, offset=(1, -2))], [F(1, 1), F(0, 0)], [F(2, 2), F(1, 3)], 2,
                [F(4, 1), F(1, 1, offset=(-1, 1))], [F(2, 1), F(1, 2)]], fps=8, action_frame=1,
               shifts=[(0, 0), (1, -1), (2, 2), (3, 3), (0, 4), (-5, 5)])
ONE_SHIFTED = make_frm([[F(2, 2)]], shifts=[(d, 0) for d in range(6)])
WALK = [[F(5, 3), F(3, 4, offset=(1, 0)), F(4, 4, offset=(2, -1))]]

# name, FRM, the info lines after its direction and frame lines (or its error), status.
INFO = [
    ("regular", SIX, [], 0),
    ("empty", b"", "an empty file", 2),
    ("a FIFO", FIFO, "not a regular file", 2),
    ("version", make_frm([[F(1, 1)]], version=3), ["version 3, not 4"], 1),
    ("direction 0 late", make_frm([[F(1, 1)]], offsets=[12] * 6)[:62] + bytes(12) + F(1, 1),
     ["direction 0 starts at 12, not 0"], 1),
    ("gap", make_frm([[F(1, 1)], [F(1, 1)]] + [1] * 4, offsets=[0] + [14] * 5)[:75] + b"?" + F(1, 1),
     ["direction 1 starts at 14, not right after direction 0's frames at 13"], 1),
    ("backwards to a frame", make_frm([[F(1, 1), F(2, 1), F(1, 2)]], offsets=[0, 13, 0, 0, 0, 0], frames=2),
     ["direction 1 starts at 13, not right after direction 0's frames at 27",
      "a frame-area size of 41, where its frames take 55 bytes"], 1),
    ("pixel count", make_frm([[F(2, 1, extra=b"ab")]]), ["direction 0, frame 0: a pixel count of 4, where its 2 x 1 "
                                                           "has 2"], 1),
    ("area size", make_frm([[F(1, 1)]], area_size=14), ["a frame-area size of 14, where its frames take 13 bytes"], 1),
    ("after", make_frm([[F(1, 1)]], tail=b"xy"), ["2 bytes after the frames"], 1),
    ("action frame", make_frm([[F(1, 1)]], action_frame=1), ["action frame 1, past the last frame, 0"], 1),
    ("short header", ONE[:61], "shorter than the 62-byte header of an FRM", 2),
    ("no frames", make_frm([[F(1, 1)]], frames=0), "0 frames per direction: no frames to read", 2),
    ("truncated frame", ONE[:-1], "direction 0, frame 0: runs past the end of the file", 2),
    ("truncated header", ONE[:70], "direction 0, frame 0: runs past the end of the file", 2),
    ("counts overflow", make_frm([[F(1, 1, count=0xFFFFFFFF)]], frames=65535),
     "direction 0, frame 0: runs past the end of the file", 2),
    ("too many frames", make_frm([[F(1, 1)]], frames=65535), "direction 0, frame 1: runs past the end of the file", 2),
    ("pixel count lies", make_frm([[F(3, 2, count=5)]]), "direction 0, frame 0: a pixel count of 5, below the 6 of "
                                                         "its 3 x 2", 2),
    ("past the file", make_frm([[F(1, 1)], [F(1, 1)]] + [1] * 4, offsets=[0] + [0xFFFFFFF0] * 5),
     "direction 1 starts at 4294967280, past the end of the file's 26-byte frame area", 2),
    ("backwards into a frame", make_frm([[F(1, 1), F(1, 1)], 0, 0, 0, 0, 0], offsets=[0, 5] + [0] * 4),
     "direction 1, frame 1: runs past the end of the file", 2),
]

# name, FRM, frames.txt's statements (comments aside), the PNGs beside it.
EXPLODE = [
    ("one", ONE, ["fps 0", "action-frame 0", "direction 0", "frame 0-000.png"], ["0-000.png"]),
    ("six", SIX, ["fps 8", "action-frame 1", "direction 0", "frame 0-000.png offset 2 0",
                  "frame 0-001.png offset 1 -2", "direction 1 shift 1 -1", "frame 1-000.png", "empty 0 0",
                  "direction 2 shift 2 2", "frame 2-000.png", "frame 2-001.png", "direction 3 same-as 2 shift 3 3",
                  "direction 4 shift 0 4", "frame 4-000.png", "frame 4-001.png offset -1 1", "direction 5 shift -5 5",
                  "frame 5-000.png", "frame 5-001.png"],
     ["0-000.png", "0-001.png", "1-000.png", "2-000.png", "2-001.png", "4-000.png", "4-001.png", "5-000.png",
      "5-001.png"]),
    ("one stored, six shifts", ONE_SHIFTED, ["fps 0", "action-frame 0", "direction 0", "frame 0-000.png"] +
     [f"direction {d} same-as 0 shift {d} 0" for d in range(1, 6)], ["0-000.png"]),
]

# Regular FRMs that explode and make must give back byte for byte.
ROUND_TRIP = [ONE, SIX, ONE_SHIFTED, make_frm(WALK, fps=12, action_frame=2),
              make_frm([[F(0, 5), F(1, 1, offset=(-3, 7))]] + [0] * 5, shifts=[(1, 1)] * 6),
              make_frm([[F(2, 2)], [F(1, 1)], 1, 0, [F(3, 1)], 4], fps=65535, shifts=[(-32768, 32767)] * 6)]


def png_parts(data):
    """A PNG's size, PLTE, tRNS, tEXt and rows (filter bytes dropped)."""
    parts = dict(chunks(data))
    width, height = struct.unpack(">II", parts[b"IHDR"][:8])
    raw = zlib.decompress(parts[b"IDAT"])
    rows = [raw[y * (width + 1) + 1:(y + 1) * (width + 1)] for y in range(height)]
    return (width, height), parts[b"PLTE"], parts.get(b"tRNS"), parts.get(b"tEXt"), b"".join(rows)


def gif_images(data):
    """A GIF's screen size, loop count, and each image's (left, top, width,
    height, delay, disposal, transparent index)."""
    screen, at, images, loop, control = struct.unpack("<HH", data[6:10]), 13 + 768, [], None, None
    while data[at] != 0x3B:
        if data[at] == 0x21:
            kind, block = data[at + 1], data[at + 3:at + 3 + data[at + 2]]
            if kind == 0xF9:
                control = (struct.unpack("<H", block[1:3])[0], block[0] >> 2 & 7, block[3] if block[0] & 1 else None)
            if block == b"NETSCAPE2.0":
                loop = struct.unpack("<H", data[at + 16:at + 18])[0]
            at += 2
            while data[at]:
                at += 1 + data[at]
            at += 1
        else:
            images.append(struct.unpack("<HHHH", data[at + 1:at + 9]) + control)
            at += 11
            while data[at]:
                at += 1 + data[at]
            at += 1
    return screen, loop, images


class FrmRead(Case):
    def setUp(self):
        if not target.frm_program:
            self.skipTest("end_to_end.py has no --frm-program")
        super().setUp()

    def test_info(self):
        for name, frm, said, status in INFO:
            with self.subTest(name):
                self.fresh()
                place(self, "a.frm", frm)
                got, out, err = self.run_frm("info", "a.frm")
                self.assertEqual(got, status, out + err)
                if status == 2:
                    self.assertEqual((out, err), ("", f"a.frm: {said}\n"))
                else:
                    self.assertEqual([line[len("  irregular: "):] for line in out.splitlines() if "irregular" in line],
                                     said)
        self.put("b.frm", ONE)
        self.assertEqual(self.run_frm("info", "b.frm", "a.frm", "b.frm")[:2], (2, (
            "b.frm: 1 direction of 1 frame, 0 fps, action frame 0\n  direction 0: shift 0 0, frames at 0\n"
            "    frame 0: 3 x 2, offset 0 0\n" + "".join(f"  direction {d}: shift 0 0, frames at 0, those of direction"
                                                       " 0\n" for d in range(1, 6))) * 2 +
            "3 files: 2 regular, 0 irregular, 1 unreadable\n"))

    def test_explode(self):
        for name, frm, listed, pictures in EXPLODE:
            with self.subTest(name):
                self.fresh()
                self.put("pal", PALETTE)
                self.put("a.frm", frm)
                self.assertEqual(self.run_frm("explode", "pal", "a.frm", "out")[:2],
                                 (0, f"out: frames.txt and {len(pictures)} picture{'s' * (len(pictures) != 1)} of "
                                     "a.frm\n"))
                self.assertEqual(self.files(), {"pal", "a.frm", "out/frames.txt", *(f"out/{p}" for p in pictures)})
                text = self.read("out/frames.txt").decode()
                self.assertEqual([line for line in text.splitlines() if not line.startswith("#")], listed)
        size, plte, trns, _, pixels = png_parts(self.read("out/0-000.png"))
        self.assertEqual((size, plte, trns, pixels), ((2, 2), PLTE, b"\0", F(2, 2)[12:]))
        # Refused before anything is written: an earlier list, a file for a folder.
        self.put("out/frames.txt", b"edited")
        self.assertEqual(self.run_frm("explode", "pal", "a.frm", "out")[0], 2)
        self.assertEqual(self.read("out/frames.txt"), b"edited")
        self.assertEqual(self.run_frm("explode", "--replace", "pal", "a.frm", "out")[0], 0)
        self.assertEqual(self.run_frm("explode", "pal", "a.frm", "pal")[0], 2)
        if target.platform == "posix":  # a FIFO frames.txt: refused, with --replace too, before a picture is written
            os.mkdir(self.path("fifo"))
            os.mkfifo(self.path("fifo/frames.txt"))
            for replace in ([], ["--replace"]):
                status, _, err = self.run_frm("explode", *replace, "pal", "a.frm", "fifo")
                self.assertEqual((status, os.listdir(self.path("fifo"))), (2, ["frames.txt"]))
            self.assertEqual(err, "fifo/frames.txt: not a regular file\n")
        self.put("bad.frm", make_frm([[F(1, 1)]], tail=b"x"))
        self.assertEqual(self.run_frm("explode", "pal", "bad.frm", "bad")[:2], (1, (
            "bad.frm: 1 bytes after the frames; the rebuilt file ends with the last frame\n"
            "bad: frames.txt and 1 picture of bad.frm\n")))

    def test_preview(self):
        self.put("pal", PALETTE)
        self.put("six.frm", SIX)
        self.assertEqual(self.run_frm("preview", "--direction", "4", "pal", "six.frm", "a.gif")[:2],
                         (0, "a.gif: direction 4, 2 frames on a screen of 4 x 2\n"))
        data = self.read("a.gif")
        # Frame 0 (4 x 1) drawn at the shift (0, 4), frame 1 (1 x 1) at (-1, 5).
        self.assertEqual(gif_images(data), ((4, 2), 0, [(0, 0, 4, 1, 13, 2, 0), (1, 1, 1, 1, 13, 2, 0)]))
        self.assertEqual(data[13:13 + 768], PLTE)
        self.assertIn(b"tessera preview", data)
        # A frame of no pixels counts by its point; fps 0 plays at 10.
        self.run_frm("preview", "--direction", "1", "pal", "six.frm", "b.gif")
        self.assertEqual(gif_images(self.read("b.gif"))[0], (1, 1))
        self.put("walk.frm", make_frm(WALK))
        self.run_frm("preview", "pal", "walk.frm", "c.gif")
        self.assertEqual(gif_images(self.read("c.gif")), ((7, 5), 0, [(0, 2, 5, 3, 10, 2, 0), (2, 1, 3, 4, 10, 2, 0),
                                                                       (3, 0, 4, 4, 10, 2, 0)]))
        # The sheet: a row for each of the five stored directions.
        self.assertEqual(self.run_frm("preview", "pal", "six.frm", "s.PNG")[:2],
                         (0, "s.PNG: 5 directions of 2 frames, cells of 9 x 8\n"))
        size, plte, trns, text, pixels = png_parts(self.read("s.PNG"))
        self.assertEqual((size, plte, trns, text), ((18, 40), PLTE, b"\0", b"Comment\0tessera preview"))
        # Direction 0's frame 0 (3 x 2) at (-1, -2) in a cell from (-6, -3); direction 5's frame 1 (1 x 2) at (-5, 3).
        self.assertEqual(pixels[18 + 5:18 + 8] + pixels[2 * 18 + 5:2 * 18 + 8], F(3, 2)[12:])
        self.assertEqual(pixels[(32 + 6) * 18 + 10:(32 + 6) * 18 + 11] + pixels[(32 + 7) * 18 + 10:][:1], F(1, 2)[12:])
        for args in (["pal", "six.frm", "s.bmp"], ["--direction", "6", "pal", "six.frm", "a.gif"],
                     ["--direction", "1", "pal", "six.frm", "s.png"], ["pal", "six.frm", "six.frm"]):
            self.assertEqual(self.run_frm("preview", *args)[0], 2, args)
        self.assertEqual(self.read("six.frm"), SIX)

    def test_round_trip(self):
        for n, frm in enumerate(ROUND_TRIP):
            with self.subTest(n):
                self.fresh()
                self.put("pal", PALETTE)
                self.put("a.frm", frm)
                self.assertEqual(self.run_frm("info", "a.frm")[0], 0)
                self.assertEqual(self.run_frm("explode", "pal", "a.frm", "out")[0], 0)
                status, out, err = self.run_frm("make", "b.frm", "out")
                self.assertEqual(status, 0, out + err)
                self.assertEqual(self.read("b.frm"), frm)


if __name__ == "__main__":
    unittest.main()
