"""The argument: which one counts and the frame name it gives."""

import os
import re
from xml.etree import ElementTree

from harness import INPUT, NAMES, WARNING, Case, frame, make_bitmap, sample_rows, target


class Arguments(Case):
    def test_first_non_empty_argument_names_the_frame(self):
        rows = sample_rows(3, 2)
        for args, name in [(("", "x.bmp"), "x.frm"), (("a.bmp", "b.bmp"), "a.frm"),
                           (("C:\\art\\tree.bmp",), "tree.frm"), (("tree",), "tree.frm"),
                           (("tree.old.bmp",), "tree.frm"), (("art\\",), ".frm"),
                           (("C:\\my.dir\\tree",), "tree.frm"), ((".bmp",), ".frm"),
                           (("C:\\My Pictures\\tree.bmp",), "tree.frm"),
                           (("C:\\" + "d" * 300 + "\\" + "x" * 200 + ".bmp",), "x" * 200 + ".frm")]:
            with self.subTest(args=args):
                self.put(INPUT, make_bitmap(3, 2, rows))
                status, out = self.run_program(*args)
                self.assert_converted(status, out, name, frame(3, 2, rows))
                os.remove(self.path(name))

    def test_forward_slash_reaches_a_subdirectory(self):
        rows = sample_rows(3, 2)
        os.mkdir(self.path("art"))
        status, out = self.convert(make_bitmap(3, 2, rows), "art/tree.bmp")
        self.assert_converted(status, out, "art/tree.frm", frame(3, 2, rows))


class CommandLine(Case):
    """Windows: the program splits its raw command line itself. Each line is
    handed over exactly, through the launcher."""

    def setUp(self):
        if not target.launcher:
            self.skipTest("the program takes an argument vector here, not a raw command line")
        super().setUp()

    def test_no_arguments(self):
        for line in [b'tessera "" ""', b'tessera "', b"tessera", b'tessera \t\x01 ""']:
            with self.subTest(line=line):
                self.assertEqual(self.run_command_line(line), (0, WARNING))
        self.assertEqual(self.files(), set())

    def test_first_argument_names_the_frame(self):
        rows = sample_rows(3, 2)
        for line, name in [(b'tessera "" x', "x.frm"),
                           (b'tessera "C:\\My Pictures\\tree.bmp"', "tree.frm"),
                           (b'"C:\\Program Files\\tessera.exe" a.bmp b.bmp', "a.frm"),
                           (b'tessera ab"c d"e', "abc de.frm"),
                           (b'tessera\ta.bmp\tb.bmp', "a.frm"),
                           (b'tessera\x01\x1f""a.bmp\x7fb', "a.frm"),
                           (b"tessera C:\\" + b"d" * 300 + b"\\" + b"x" * 250 + b".bmp", "x" * 250 + ".frm")]:
            with self.subTest(line=line[:60]):
                self.fresh()
                self.put(INPUT, make_bitmap(3, 2, rows))
                status, out = self.run_command_line(line)
                self.assert_converted(status, out, name, frame(3, 2, rows))

    def test_bytes_above_127_are_ordinary(self):
        # The program's 8-bit character set is UTF-8 (its manifest says so),
        # and Wine keeps file names in UTF-8: "\xc2\xa0" is a no-break space.
        self.put(INPUT, make_bitmap(3, 2))
        status, out = self.run_command_line(b"tessera \xc3\xa9t\xc3\xa9\xc2\xa0x.bmp")
        self.assertEqual((status, out), (0, b""))
        self.assertEqual(self.files(), {INPUT, "\xe9t\xe9\xa0x.frm"})

    def test_names_in_any_script(self):
        for number, (picture, name) in enumerate(NAMES):
            with self.subTest(name=name):
                rows = sample_rows(3 + number, 2)
                self.fresh()
                self.put(INPUT, make_bitmap(3 + number, 2, rows))
                status, out = self.run_command_line(f'tessera "C:\\Ü\\{picture}"'.encode())
                self.assert_converted(status, out, name, frame(3 + number, 2, rows))

    def test_manifest(self):
        """The application manifest: UTF-8 as the 8-bit character set, no
        elevation, and the Windows versions it was made for."""
        with open(target.program, "rb") as f:
            found = re.search(rb"<assembly .*</assembly>", f.read(), re.DOTALL)
        self.assertTrue(found, "no manifest")
        manifest = ElementTree.fromstring(found.group())
        settings = {element.tag.split("}")[1]: element for element in manifest.iter()}
        self.assertEqual(settings["activeCodePage"].text, "UTF-8")
        self.assertEqual(settings["requestedExecutionLevel"].get("level"), "asInvoker")
        systems = manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")
        self.assertEqual([system.get("Id") for system in systems],  # 7, 8, 8.1, 10 and 11
                         ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"])
