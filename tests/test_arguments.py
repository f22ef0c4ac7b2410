"""The argument: which one counts and the frame name it gives."""

import os

from harness import INPUT, WARNING, Case, frame, make_bitmap, sample_rows, target


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
        # Wine keeps file names in UTF-8 and takes the program's bytes as
        # Windows code page 1252.
        self.put(INPUT, make_bitmap(3, 2))
        status, out = self.run_command_line(b"tessera \xe9t\xe9\xa0x.bmp")
        self.assertEqual((status, out), (0, b""))
        self.assertEqual(self.files(), {INPUT, "\xe9t\xe9\xa0x.frm"})
