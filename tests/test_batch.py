"""The example pipeline script, examples/convert-folder.bat, run by cmd.exe
with tessera.exe beside it, as a Windows user runs it from the release."""

import os
import shutil
import subprocess

from harness import Case, frame, make_bitmap, sample_rows, target

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "convert-folder.bat")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class ConvertFolder(Case):
    def setUp(self):
        if not target.wine:
            self.skipTest("needs cmd.exe: runs in the Windows suite, under Wine")
        super().setUp()

    def test_converts_every_picture_and_names_each_failure(self):
        os.mkdir(self.path("bin"))
        shutil.copy(target.program, self.path("bin/tessera.exe"))
        shutil.copy(SCRIPT, self.path("bin/convert-folder.bat"))
        tree, spaced = sample_rows(3, 2), sample_rows(5, 4, bits=4)
        self.put("art/tree.bmp", make_bitmap(3, 2, tree))
        self.put("art/with space.bmp", make_bitmap(5, 4, spaced, bits=4))
        self.put("art/photo.bmp", make_bitmap(4, 2, bits=24))
        result = subprocess.run([*target.wine, "cmd", "/c", windows_path(self.path("bin/convert-folder.bat")),
                                 windows_path(self.path("art"))], cwd=self.dir, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn(b"photo.bmp: tessera failed with exit code 201\r\n", result.stdout)
        self.assertNotIn(b"tree.bmp", result.stdout)
        self.assertEqual(self.read("art/tree.frm"), frame(3, 2, tree))
        self.assertEqual(self.read("art/with space.frm"), frame(5, 4, spaced))
        self.assertEqual(self.files(), {"bin/tessera.exe", "bin/convert-folder.bat", "art/tree.bmp", "art/tree.frm",
                                        "art/with space.bmp", "art/with space.frm", "art/photo.bmp"})
