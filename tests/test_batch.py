"""The example pipeline script, examples/convert-folder.bat, run by cmd.exe
with tessera.exe beside it, as a Windows user runs it from the release; and
the documents, which ship beside it as text."""

import os
import re
import shutil
import subprocess
import unittest

from harness import NAMES, Case, frame, make_bitmap, make_iff, make_png, make_psd, make_tiff, sample_rows, target, \
    windows_path

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "examples", "convert-folder.bat")
DOCUMENTS = [os.path.join(HERE, "..", name) for name in ["README.md", "docs/manual.md", "docs/development.md"]]


class ConvertFolder(Case):
    def setUp(self):
        if not target.wine:
            self.skipTest("needs cmd.exe: runs in the Windows suite, under Wine")
        super().setUp()

    def test_every_name_is_safe(self):
        """Names that cmd would read as syntax or expand, an indexed PNG and
        the names of every script, all read-only (so the script runs as an
        ordinary user: root ignores read-only). Whichever picture comes first
        gives a new, read-only vantrel.tmp. Only the 24-bit picture fails,
        and its line says why."""
        os.mkdir(self.path("bin"))
        shutil.copy(target.program, self.path("bin/tessera.exe"))
        shutil.copy(SCRIPT, self.path("bin/convert-folder.bat"))
        pictures = [("tree - Copy (2).bmp", "tree - Copy (2).frm"), ("50%.bmp", "50%.frm"), ("a^b.bmp", "a^b.frm"),
                    ("wow!.bmp", "wow!.frm"), ("p,q;r=s'.bmp", "p,q;r=s'.frm"), ("indexed.png", "indexed.frm"),
                    ("drawn.psd", "drawn.frm"), ("deluxe.lbm", "deluxe.frm"), ("amiga.iff", "amiga.frm"),
                    ("painted.tif", "painted.frm"), ("painted too.tiff", "painted too.frm"), *NAMES]
        expected = {}
        for number, (picture, name) in enumerate(pictures):
            rows = sample_rows(2 + number, 2)
            makers = {".png": make_png, ".psd": make_psd, ".lbm": make_iff, ".iff": make_iff, ".tif": make_tiff,
                      "tiff": make_tiff}
            maker = makers.get(picture[-4:], make_bitmap)
            self.put(f"art/{picture}", maker(2 + number, 2, rows), mode=0o444)
            expected[f"art/{name}"] = frame(2 + number, 2, rows)
        self.put("art/x&echo INJECTED&.bmp", make_bitmap(4, 2, bits=24), mode=0o444)
        os.chmod(self.path("art"), 0o777)
        before = self.files()
        script, folder = windows_path(self.path("bin/convert-folder.bat")), windows_path(self.path("art"))
        status, out = self.run_program(command=[*target.wine, "cmd", "/c", script, folder],
                                       unprivileged=bool(target.wine_user_env))
        self.assertEqual(status, 1, out)
        self.assertRegex(out, rb"\ARuntime error 201 at [0-9A-F]{8}\r\nx&echo INJECTED&\.bmp: 201: not a palette "
                              rb"picture tessera converts \(its colours are not palette indices\)\r\n"
                              rb"16 converted, 1 failed\r\n\Z")
        self.assertEqual({name: self.read(name) for name in self.files() - before}, expected)

    def test_the_folder_given_and_no_other(self):
        """Run from a folder with a picture of its own, which never gets a
        frame: the folder given every way converts (with & ^ ! in its path
        too); one that can't be entered
        exactly (Wine's cmd drops the %), or a script without tessera.exe
        beside it, ends with 2 and touches nothing."""
        converted = (0, rb"1 converted, 0 failed\r\n")
        refused = (2, rb"convert-folder: can't enter the folder .*\r\n")
        for folder, given, script_folder, (code, said) in [
                ("art", lambda path: windows_path(path).replace("\\", "/"), "bin", converted),
                ("art", lambda path: "art", "bin", converted),
                ("art", lambda path: "art\\", "bin", converted),
                ("new & old", windows_path, "bin", converted),
                ("a ^ b !", windows_path, "bin", converted),
                ("50% off", windows_path, "bin", refused),
                ("art", lambda path: "nowhere", "bin", refused),
                ("empty", windows_path, "bin", (0, rb"no pictures in Z:\\.*\\empty\r\n")),
                ("art", windows_path, "bin 100%", (2, rb"convert-folder: no tessera.exe beside this script .*\r\n")),
        ]:
            self.fresh()
            with self.subTest(given=given(self.path(folder)), script_folder=script_folder):
                self.put("own.bmp", make_bitmap(2, 2))
                os.mkdir(self.path("empty"))
                self.put(f"{script_folder}/tessera.exe", open(target.program, "rb").read())
                shutil.copy(SCRIPT, self.path(f"{script_folder}/convert-folder.bat"))
                if folder != "empty":
                    self.put(f"{folder}/pic.bmp", make_bitmap(3, 2, sample_rows(3, 2)))
                before = self.files()
                script = windows_path(self.path(f"{script_folder}/convert-folder.bat"))
                status, out = self.run_program(command=[*target.wine, "cmd", "/c", script, given(self.path(folder))])
                self.assertEqual(status, code, out)
                self.assertRegex(out, rb"\A" + said + rb"\Z")
                self.assertNotRegex(out + self.stderr, rb"Can't recognize|Syntax error")
                made = {name: self.read(name) for name in self.files() - before}
                self.assertEqual(made, {f"{folder}/pic.frm": frame(3, 2, sample_rows(3, 2))} if code == 0 and
                                 folder != "empty" else {})


    def test_palette_pal(self):
        """With palette.pal in the folder, a picture whose colours differ gets
        its lines from the check, a line that it is not converted and no
        frame, and counts as failed; without tessera-palette.exe beside the
        script, or with a palette.pal of 300 colours, nothing is converted,
        and the palette's fault is said once."""
        if not target.palette_program:
            self.skipTest("end_to_end.py has no --palette-program")
        rows = sample_rows(3, 2)
        bitmap = make_bitmap(3, 2, rows)  # its colour table: entry k is bytes 4k to 4k + 3, blue first
        table = bytes(bitmap[54 + 4 * k + 2 - c] for k in range(256) for c in range(3))
        wrong = bytearray(bitmap)
        wrong[54 + 4 * rows[0][0]:54 + 4 * rows[0][0] + 3] = b"\1\2\3"
        too_many = b"GIMP Palette\n" + b"1 2 3\n" * 300
        for with_program, palette, expected in [
                (True, table, (1, rb"b.bmp: 1 index differs\r\n  index %d: \(3, 2, 1\), palette .*\r\n  the palette "
                                  rb"lacks 1 of its colours: remap --nearest takes the nearest\r\n(\"Z:\\.*\\bin\\"
                                  rb"tessera-palette.exe\" remap --nearest \"palette.pal\" \"b.bmp\" \"OUT.png\")\r\n"
                                  rb"b.bmp: not converted: it failed the check against palette.pal\r\n1 converted, "
                                  rb"1 failed\r\n" % rows[0][0])),
                (True, too_many, (2, rb"convert-folder: nothing converted: palette.pal: line 258: more than 256 "
                                     rb"colours\r\n")),
                (False, table, (2, rb"convert-folder: palette.pal, but no tessera-palette.exe beside this script .*\r\n"))]:
            self.fresh()
            with self.subTest(with_program=with_program, palette=palette[:12]):
                self.put("bin/tessera.exe", open(target.program, "rb").read())
                if with_program:
                    self.put("bin/tessera-palette.exe", open(target.palette_program, "rb").read())
                shutil.copy(SCRIPT, self.path("bin/convert-folder.bat"))
                self.put("art/palette.pal", palette)
                self.put("art/a.bmp", bitmap)
                self.put("art/b.bmp", bytes(wrong))
                before = self.files()
                status, out = self.run_program(command=[*target.wine, "cmd", "/c", windows_path(
                    self.path("bin/convert-folder.bat")), windows_path(self.path("art"))])
                self.assertEqual(status, expected[0], out)
                self.assertRegex(out, rb"\A" + expected[1] + rb"\Z")
                made = {name: self.read(name) for name in self.files() - before}
                self.assertEqual(made, {"art/a.frm": frame(3, 2, rows)} if expected[0] == 1 else {})
                if expected[0] == 1:  # the advice, run as it is from the picture folder, writes OUT.png
                    advice = re.search(expected[1], out).group(1).decode()
                    subprocess.run([*target.wine, "cmd"], input=advice.encode() + b"\r\nexit\r\n", cwd=self.path("art"),
                                   capture_output=True, timeout=120)
                    self.assertIn("art/OUT.png", self.files())


class Readme(unittest.TestCase):
    def test_no_control_characters(self):
        """A backslash taken for an escape leaves a tab or a bell behind."""
        for document in DOCUMENTS:
            with open(document, "rb") as f:
                lines = f.read().split(b"\n")
            self.assertEqual([(document, number, line) for number, line in enumerate(lines, 1)
                              if re.search(rb"[\x00-\x1f\x7f]", line.removesuffix(b"\r"))], [])
