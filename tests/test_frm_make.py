"""tessera-frm make: one table of the FRMs it writes, byte for byte, and one of
its errors. Skipped unless end_to_end.py is given --frm-program."""

import struct
import unittest

from harness import (Case, frame, frm_bytes, gif_image, make_bitmap, make_gif, make_iff, make_pcx, make_png, make_psd,
                     make_tga, make_tiff, target)


def rows_of(width, height, base):
    return [bytes((base + x + y * width) % 255 + 1 for x in range(width)) for y in range(height)]


def whole(rows, x=0, y=0):
    return (len(rows[0]), len(rows), b"".join(rows), x, y)


def gce(delay, disposal=0):
    return struct.pack("<BBBBHBB", 0x21, 0xF9, 4, disposal << 2, delay, 0, 0)


R = [rows_of(4, 3, 12 * k) for k in range(9)]
FORMATS = {"f0.bmp": make_bitmap(4, 3, R[0]), "f1.png": make_png(4, 3, R[1]), "f2.gif": make_gif(4, 3, R[2]),
           "f3.tga": make_tga(4, 3, R[3]), "f4.pcx": make_pcx(4, 3, R[4]), "f5.tif": make_tiff(4, 3, R[5]),
           "f6.psd": make_psd(4, 3, R[6]), "f7.lbm": make_iff(4, 3, R[7]), "f8.bmp": make_bitmap(4, 3, R[8], top_down=True)}
DOT = {k: make_bitmap(1, 1, [bytes([k])]) for k in range(1, 5)}
WALK = {"walk/walk10.png": make_png(1, 1, [b"\4"]), "walk/walk2.png": make_png(1, 1, [b"\3"]),
        "walk/walk1.bmp": DOT[1], "walk/walk01.BMP": DOT[2], "walk/Thumbs.db": b"x", "walk/notes.txt": b"x",
        "walk/sub/walk0.bmp": DOT[4]}
# --crop: 5 x 4 (odd) cut to 3 x 2 at (1, 0); 6 x 4 (even) cut to 2 x 3 at (4, 1); nothing but 0.
CROP = {"a.bmp": make_bitmap(5, 4, [b"\0\1\2\3\0", b"\0\4\5\6\0", bytes(5), bytes(5)]),
        "b.png": make_png(6, 4, [bytes(6), b"\0\0\0\0\7\x08", b"\0\0\0\0\x09\x0a", b"\0\0\0\0\x0b\x0c"]),
        "c.bmp": make_bitmap(3, 3, [bytes(3)] * 3)}
# Six rows of two 3 x 2 cells: (0, 0) then (2, 1) set in each.
SHEET = {"sheet.bmp": make_bitmap(6, 12, [r for d in range(6) for r in (bytes([d + 1]) + bytes(5),
                                                                           bytes(5) + bytes([d + 11]))])}
LIST = {"list/a b.png": make_png(4, 3, R[0]), "list/c.bmp": make_bitmap(4, 3, R[1]), "list/frames.txt": (
    b"# by hand\nfps 7\naction-frame 1\ndirection 0 shift 1 -1\nframe a b.png offset 3 -4\n  empty 0 5\n"
    b"direction 1 same-as 0 shift 2 2\ndirection 2\nframe c.bmp\nframe c.bmp offset -1 1\ndirection 3 same-as 2\n"
    b"direction 4 same-as 0\ndirection 5\nempty 3 0 offset 5 5\nframe a b.png\n")}
ONE = {"one/c.bmp": make_bitmap(4, 3, R[1]), "one/frames.txt": b"\xef\xbb\xbfdirection 0 shift 4 5\r\nframe c.bmp\r\n"}
ANIM = {"anim.gif": make_gif(2, 2, blocks=[gce(8), gif_image(2, 2, [b"\1\2", b"\3\4"]), gce(8),
                                            gif_image(1, 1, [b"\5"], left=1, top=1)])}

MAKES = [  # name, files, arguments, the FRM expected
    ("one picture", FORMATS, ["one.frm", "f0.bmp"], frame(4, 3, R[0])),
    ("every format", FORMATS, ["OUT.FR2", *sorted(FORMATS)], frm_bytes([whole(r) for r in R])),
    ("a folder", WALK, ["out.frm", "walk"], frm_bytes([whole([bytes([k])]) for k in (1, 2, 3, 4)])),
    ("a pattern", WALK, ["out.frm", "walk/walk?.*"], frm_bytes([whole([bytes([k])]) for k in (1, 3)])),
    ("a pattern here", {"d2.bmp": DOT[2], "d10.bmp": DOT[1], "e.bmp": DOT[3]}, ["out.frm", "d*"],
     frm_bytes([whole([b"\2"]), whole([b"\1"])])),
    ("action frame, fps", FORMATS, ["--action-frame", "1", "--fps", "0", "out.frm", "f0.bmp", "f1.png"],
     frm_bytes([whole(R[0]), whole(R[1])], fps=0, action_frame=1)),
    ("crop", CROP, ["--crop", "--shift", "10", "-5", "out.frm", "a.bmp", "b.png", "c.bmp"],
     frm_bytes([(3, 2, bytes(range(1, 7)), 0, 0), (2, 3, bytes(range(7, 13)), 2, 2), (1, 1, b"\0", -2, 0)],
               shifts=((10, -7),))),
    ("a sheet in six directions, cropped", SHEET, ["out.frm", "--grid", "2x6", "--directions", "6", "--crop", "sheet.bmp"],
     frm_bytes([f for d in range(6) for f in ((1, 1, bytes([d + 1]), 0, 0), (1, 1, bytes([d + 11]), 2, 1))],
               directions=6, shifts=((-1, -1),))),
    ("a list", LIST, ["out.frm", "list"],
     frm_bytes([whole(R[0], 3, -4), (0, 5, b"", 0, 0), whole(R[1]), whole(R[1], -1, 1), (3, 0, b"", 5, 5),
                whole(R[0])], directions=6, fps=7, action_frame=1, same_as={1: 0, 3: 2, 4: 0},
               shifts=((1, -1), (2, 2), (0, 0), (0, 0), (0, 0), (0, 0)))),
    ("a list of one direction", ONE, ["out.frm", "one"], frm_bytes([whole(R[1])], fps=0, shifts=((4, 5),))),
    ("a list, --fps", ONE, ["out.frm", "--fps", "3", "one/"], frm_bytes([whole(R[1])], fps=3, shifts=((4, 5),))),
    ("a list's action frame past the last, mended", {"m/c.bmp": ONE["one/c.bmp"], "m/frames.txt": b"action-frame 5\n"
     b"direction 0\nframe c.bmp\n"}, ["--action-frame", "0", "out.frm", "m"], frm_bytes([whole(R[1])], fps=0)),
    # These need every image of a GIF (ReadGifFrames).
    ("GIF: fps of its delay", ANIM, ["out.frm", "anim.gif"],
     frm_bytes([whole([b"\1\2", b"\3\4"]), whole([b"\1\2", b"\3\5"])], fps=13)),
    ("GIF and a picture: 10 fps", {**ANIM, "d.bmp": DOT[1]}, ["out.frm", "anim.gif", "d.bmp"],
     frm_bytes([whole([b"\1\2", b"\3\4"]), whole([b"\1\2", b"\3\5"]), whole([b"\1"])])),
]

OLD = b"an earlier FRM"
ERRORS = [  # files, arguments, what standard error says
    ({}, [], "make takes OUT.frm first"),
    ({}, ["d.png", "d.bmp"], "OUT first, ending in .frm"),
    ({}, ["out.frm"], "inputs after out.frm"),
    ({}, ["--grid", "0x1", "out.frm", "d.bmp"], "--grid takes"),
    ({}, ["--directions", "2", "out.frm", "d.bmp"], "--directions takes 1 or 6"),
    ({}, ["--fps", "65536", "out.frm", "d.bmp"], "--fps takes"),
    ({}, ["--action-frame", "x", "out.frm", "d.bmp"], "--action-frame takes"),
    ({}, ["--shift", "1", "out.frm", "d.bmp"], "--shift takes"),
    ({}, ["--size", "out.frm", "d.bmp"], "no option --size"),
    ({}, ["out.frm", "./out.frm"], "is the input ./out.frm itself"),
    ({}, ["out.frm", "none.bmp"], "none.bmp: no such file"),
    ({"e.png": b""}, ["out.frm", "e.png"], "e.png: an empty file"),
    (WALK, ["out.frm", "walk/x*"], "walk/x*: matches no file"),
    ({"empty/a.txt": b""}, ["out.frm", "empty"], "empty: holds no picture"),
    ({**ONE, **CROP}, ["out.frm", "one", "a.bmp"], "one: holds frames.txt, so it must be make's only input"),
    (ONE, ["--crop", "out.frm", "one"], "don't go with one/frames.txt"),
    ({"l/frames.txt": b"fps 1\nfps 2\n"}, ["out.frm", "l"], "l/frames.txt: line 2: a second fps line"),
    ({"l/frames.txt": b"direction 0\nframe b.bmp\n"}, ["out.frm", "l"], "l/b.bmp: no such file"),
    (ONE, ["--action-frame", "1", "out.frm", "one"], "out.frm: action frame 1 is past the last frame of a direction, 0"),
    ({"l/frames.txt": b"action-frame 2\ndirection 0\nframe b.bmp\n"}, ["out.frm", "l"],
     "l/frames.txt: line 1: action frame 2 is past the last frame, 0"),
    (CROP, ["--grid", "2x1", "out.frm", "a.bmp"], "a.bmp: 5 x 4 does not split into 2 columns and 1 row"),
    ({}, ["--directions", "6", "out.frm", "d.bmp", "d.bmp"], "out.frm: the inputs give 2 frames"),
    (CROP, ["--crop", "--shift", "32767", "0", "out.frm", "b.png"], "direction 0's shift comes to 32769 0, outside"),
    ({"rgb.bmp": make_bitmap(1, 1, [b"\1\2\3"], bits=24)}, ["out.frm", "rgb.bmp"], "rgb.bmp: not a palette picture"),
    ({"cut.gif": make_gif(4, 3, R[0])[:-12]}, ["out.frm", "cut.gif"], "cut.gif: image 1: damaged or cut short"),
    # Needs every image of a GIF: the second cut short.
    ({"cut.gif": ANIM["anim.gif"][:-6]}, ["out.frm", "cut.gif"], "cut.gif: image 2: damaged or cut short"),
]


@unittest.skipIf(target.frm_program is None, "needs --frm-program")
class FrmMake(Case):
    def test_makes(self):
        for name, files, args, expected in MAKES:
            with self.subTest(name):
                self.fresh()
                for path, data in files.items():
                    self.put(path, data)
                status, out, err = self.run_frm("make", *args)
                self.assertEqual((status, err), (0, ""))
                out_name = next(a for a in args if a.lower().endswith((".frm", ".fr2")))
                self.assertEqual(self.read(out_name), expected)
                n = struct.unpack(">H", expected[8:10])[0]
                self.assertRegex(out, rf"^{out_name}: (1 direction|6 directions) of {n} frames?, \d+ fps\n$")

    def test_errors(self):
        for files, args, message in ERRORS:
            with self.subTest(" ".join(args)):
                self.fresh()
                for path, data in {**files, "out.frm": OLD, "d.bmp": DOT[1]}.items():
                    self.put(path, data)
                before = self.files()
                status, _, err = self.run_frm("make", *args)
                self.assertEqual(status, 2)
                self.assertIn(message, err)
                self.assertEqual((self.files(), self.read("out.frm")), (before, OLD))

    def test_names_in_any_script(self):
        """Pictures named in any script, through a folder in natural order and
        through a pattern, whose letters match in any case where the
        platform's file names do (Windows)."""
        for name, index in (("шаг10.png", 3), ("表1.png", 1), ("Шаг2.png", 2)):
            self.put(f"кадры/{name}", make_png(1, 1, [bytes([index])]))
        expected = frm_bytes([whole([bytes([k])]) for k in (2, 3, 1)])
        for args in (["кадры"], ["кадры/*.PNG"]):
            with self.subTest(args):
                status, _, err = self.run_frm("make", "дерево.frm", *args)
                if args == ["кадры/*.PNG"] and target.platform != "windows":
                    self.assertEqual((status, err), (2, "кадры/*.PNG: matches no file\n"))
                    continue
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(self.read("дерево.frm"), expected)
