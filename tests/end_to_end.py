#!/usr/bin/env python3
"""End-to-end tests: run the built program as the calling script would, each
case in a fresh temporary directory, and check its exit status, the exact bytes
it prints, the exact bytes of the frame it leaves, that "vantrel.tmp" is
unchanged and that nothing else is left behind.

    end_to_end.py --program build/tessera --suite ../shared/bmp-suite [unittest args]
"""

import argparse
import hashlib
import os
import pty
import re
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import tty
import unittest

WARNING = b"Do not run this program outside of hobrent.bat\r\n unless you know exactly how it works!\r\n"
INPUT = "vantrel.tmp"

# Set from the command line in main().
PROGRAM = None
SUITE = None
LAUNCHER = None       # Windows: starts the program with an exact command line
WINE = None           # the command that runs a Windows program, when testing one
WINE_USER_ENV = None  # Wine's environment for an ordinary user, when it has one
SANITIZED = False     # the program is built with sanitizers

# The operating system's error numbers the program passes on, by platform.
POSIX_CODES = {
    "missing": 2, "missing directory": 2, "access denied": 13, "directory in the way": 21,
    "negative seek": 22, "write refused": 27,
}
# A write past a file-size limit (Windows has none; Wine passes it on)
# fails with ERROR_GEN_FAILURE.
WINDOWS_CODES = {
    "missing": 2, "missing directory": 3, "access denied": 5, "directory in the way": 5,
    "negative seek": 131, "write refused": 31,
}
CODE = POSIX_CODES
# Address space the program may have when an allocation must fail: Wine
# alone needs more than a native program.
ADDRESS_SPACE = {"posix": 256 << 20, "windows": 2000000 << 10}
PLATFORM = "posix"


def make_bitmap(width, height, rows=None, bits=8, compression=0, info_size=40,
                offset=None, top_down=False):
    """A bitmap with `rows` (top to bottom, each `width` bytes) stored as the
    format wants: padded to 4 bytes, bottom-up unless `top_down`."""
    if rows is None:
        rows = sample_rows(width, height)
    stride = (width + 3) // 4 * 4
    stored = rows if top_down else rows[::-1]
    pixels = b"".join(row + bytes(stride - len(row)) for row in stored)
    palette = bytes(range(256)) * 4
    if offset is None:
        offset = 14 + info_size + len(palette)
    info = struct.pack("<IiiHHIIiiII", info_size, width, -height if top_down else height, 1, bits,
                       compression, len(pixels), 2835, 2835, 256, 0)
    info = (info + bytes(max(0, info_size - len(info))))[:max(info_size, 40)]
    head = struct.pack("<2sIHHi", b"BM", offset + len(pixels), 0, 0, offset) + info + palette
    return head.ljust(offset, b"\0")[:offset] + pixels


def past_the_end(bitmap):
    """The bitmap with its pixel-data offset pointing past its end."""
    return bitmap[:10] + struct.pack("<i", len(bitmap) + 1000) + bitmap[14:]


def frame(width, height, rows):
    """The frame file the program must write for these rows."""
    pixels = width * height
    header = struct.pack(">IHHH12x12x24xIHHIHH", 4, 0, 0, 1, (pixels + 12) & 0xFFFFFFFF,
                         width & 0xFFFF, height & 0xFFFF, pixels & 0xFFFFFFFF, 0, 0)
    return header + b"".join(rows)


def sample_rows(width, height):
    return [bytes((x * 7 + y * 13) & 0xFF for x in range(width)) for y in range(height)]


def drop_privileges():
    """Runs the program as an ordinary user, so that file permissions bind."""
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


class Case(unittest.TestCase):
    """One fresh directory per test, removed afterwards."""

    def setUp(self):
        self.made = []
        self.fresh()

    def fresh(self):
        """Moves the case to a new empty directory."""
        self.dir = tempfile.mkdtemp(prefix="tessera-e2e-")
        os.chmod(self.dir, 0o777)  # the unprivileged cases write here too
        self.made.append(self.dir)

    def tearDown(self):
        for made in self.made:
            for root, dirs, _ in os.walk(made):
                os.chmod(root, 0o777)
            shutil.rmtree(made)

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data, mode=0o666):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def files(self):
        found = set()
        for root, _, names in os.walk(self.dir):
            found.update(os.path.relpath(os.path.join(root, n), self.dir) for n in names)
        return found

    def run_program(self, *args, stdout=subprocess.PIPE, preexec_fn=None, unprivileged=False, command=None,
                    no_stdout=False):
        """Runs the program in the case directory; returns (status, stdout).
        Standard error is Wine's alone and is not compared. With stdout="file"
        standard output is redirected to a file outside the case directory.

        `no_stdout` runs it without standard output: on POSIX descriptor 1 is
        closed; on Windows the launcher gives it no standard output handle
        (Wine would hand a closed descriptor's number to whatever it opens
        next)."""
        if no_stdout and WINE:
            line = b" ".join([b"tessera", *(arg.encode() for arg in args)])
            return self.run_command_line(line, "--no-stdout", stdout=None, preexec_fn=preexec_fn)
        if no_stdout:
            stdout = None

        def before():
            if no_stdout:
                os.close(1)
            if WINE:
                # Wine itself does not ignore it: a write past a file-size
                # limit must fail, not end the process.
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            if preexec_fn:
                preexec_fn()
            if unprivileged:
                drop_privileges()
        if stdout == "file":
            with tempfile.TemporaryFile() as out:
                status, _ = self.run_program(*args, stdout=out, preexec_fn=preexec_fn, unprivileged=unprivileged,
                                             command=command)
                out.seek(0)
                return status, out.read()
        if command is None:
            command = [*(WINE or []), PROGRAM, *args]
        env = WINE_USER_ENV if unprivileged and WINE else None
        result = subprocess.run(command, cwd=self.dir, stdout=stdout, stderr=subprocess.PIPE, env=env,
                                stdin=subprocess.DEVNULL, preexec_fn=before, timeout=120)
        if not WINE:
            # The program never writes there: anything is a sanitizer's report.
            self.assertEqual(result.stderr.decode(errors="replace"), "")
        return result.returncode, result.stdout or b""

    def run_command_line(self, line, *launcher_options, **kwargs):
        """Windows: runs the program with exactly this command line."""
        handle, line_file = tempfile.mkstemp(suffix=".line")  # not in the case directory
        os.write(handle, line)
        os.close(handle)
        try:
            return self.run_program(command=[*WINE, LAUNCHER, PROGRAM, line_file, *launcher_options], **kwargs)
        finally:
            os.remove(line_file)

    def convert(self, bitmap, argument, **kwargs):
        """Leaves `bitmap` as the input and runs the program on `argument`,
        checking that the input is left as it was."""
        if bitmap is None:
            return self.run_program(argument, **kwargs)
        self.put(INPUT, bitmap)
        status, out = self.run_program(argument, **kwargs)
        self.assertEqual(self.read(INPUT), bitmap, "the input was changed")
        return status, out

    def assert_converted(self, status, out, name, expected, others=()):
        self.assertEqual((status, out), (0, b""))
        self.assertEqual(self.read(name), expected)
        self.assertEqual(self.files(), {INPUT, name, *others})

    def assert_report(self, status, out, code):
        """A stop with `code`: its exit status and its report, exactly; returns
        the report's address."""
        self.assertEqual(status, code & 0xFF)
        match = re.fullmatch(rb"Runtime error%4d at ([0-9A-F]{8})\r\n" % code, out)
        self.assertTrue(match, f"not the report for {code}: {out!r}")
        return match.group(1).decode()

    def assert_stopped(self, status, out, code, others=(), reported=True):
        """A stop: the code, its report, and nothing left but the input and the
        files that were there before. Returns the report's address."""
        if reported:
            address = self.assert_report(status, out, code)
        else:
            address = None
            self.assertEqual((status, out), (code & 0xFF, b""))
        self.assertEqual(self.files() - {INPUT}, set(others))
        return address

    OLD = b"an earlier frame"

    def stop(self, bitmap, code, argument="pic.bmp", reported=True, **kwargs):
        """Converts `bitmap` over an earlier frame and expects a stop with
        `code` that leaves the earlier frame as it was. Returns the report's
        address."""
        self.put("pic.frm", self.OLD)
        status, out = self.convert(bitmap, argument, **kwargs)
        address = self.assert_stopped(status, out, code, others={"pic.frm"}, reported=reported)
        self.assertEqual(self.read("pic.frm"), self.OLD)
        return address


class Corpus(Case):
    """Every picture of the outside corpus, with its known outcome."""

    def test_every_row(self):
        with open(os.path.join(SUITE, "expected.tsv")) as table:
            rows = [line.rstrip("\n").split("\t") for line in table if not line.startswith("#")]
        self.assertGreater(len(rows), 80)
        for path, status, name, length, digest in rows:
            with self.subTest(path):
                self.fresh()
                with open(os.path.join(SUITE, path), "rb") as f:
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


class Warning(Case):
    """Without an argument: the two warning lines and status 0."""

    def test_to_a_pipe(self):
        for args in [(), ("",), ("", "")]:
            with self.subTest(args=args):
                self.assertEqual(self.run_program(*args), (0, WARNING))
        self.assertEqual(self.files(), set())

    def test_to_a_file(self):
        with open(self.path("out.txt"), "wb") as out:
            self.assertEqual(self.run_program(stdout=out)[0], 0)
        self.assertEqual(self.read("out.txt"), WARNING)
        self.assertEqual(self.files(), {"out.txt"})

    def test_without_standard_output(self):
        # 103: writing to a channel that is not open; nothing can be printed.
        status, _ = self.run_program(no_stdout=True)
        self.assertEqual(status, 103)

    def test_to_a_closed_pipe(self):
        # To a pipe the text goes out at the end, where a failed write is
        # ignored; above all the program must not die of the broken pipe.
        read_end, write_end = os.pipe()
        os.close(read_end)
        status, _ = self.run_program(stdout=write_end)
        os.close(write_end)
        self.assertEqual(status, 0)


class Console(Case):
    """On a console every line is written out at its end; to a file or pipe
    the text goes out in one piece when the program ends."""

    def on_terminal(self, *args, command=None):
        """Runs the program with a terminal as standard output; returns its
        status and what the terminal was sent."""
        leader, follower = pty.openpty()
        tty.setraw(follower)  # no translation of line ends on the way
        status, _ = self.run_program(*args, stdout=follower, command=command)
        os.close(follower)
        shown = b""
        while select.select([leader], [], [], 0.5)[0]:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # Linux: the other side is closed and all is read
                break
            if not chunk:
                break
            shown += chunk
        os.close(leader)
        return status, shown

    def stdout_writes(self, args, console):
        """The program's writes to standard output, each as its bytes."""
        if WINE:
            # Wine shows a terminal as a console and wraps each write to it
            # in escape sequences that hide and show the cursor.
            if not console:
                status, out = self.run_program(*args)
                return status, [out]
            status, shown = self.on_terminal(*args)
            writes = re.findall(rb"\x1b\[\?25l(.*?)\x1b\[\?25h", shown, re.S)
            self.assertEqual(re.sub(rb"\x1b\[\?25[lh]", b"", shown), b"".join(writes))
            return status, writes
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        log = self.dir + ".strace"  # beside the case directory, not in it
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        command = ["strace", "-qq", "-e", "trace=write", "-e", "signal=none", "-xx", "-s", "300", "-o", log,
                   PROGRAM, *args]
        if console:
            status, shown = self.on_terminal(command=command)
        else:
            status, shown = self.run_program(command=command)
        with open(log) as f:
            writes = [bytes.fromhex(m.group(1).replace("\\x", ""))
                      for m in re.finditer(r'^write\(1, "([^"]*)"', f.read(), re.M)]
        self.assertEqual(b"".join(writes), shown)
        return status, writes

    def test_warning(self):
        lines = WARNING.splitlines(keepends=True)
        self.assertEqual(self.stdout_writes([], console=True), (0, lines))
        self.assertEqual(self.stdout_writes([], console=False), (0, [WARNING]))

    def test_report(self):
        status, writes = self.stdout_writes(["pic.bmp"], console=True)
        self.assertEqual(len(writes), 1)
        self.assert_report(status, writes[0], CODE["missing"])


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


class Conversion(Case):
    def check(self, width, height, **bitmap_options):
        rows = sample_rows(width, height)
        status, out = self.convert(make_bitmap(width, height, rows, **bitmap_options), "pic.bmp")
        self.assert_converted(status, out, "pic.frm", frame(width, height, rows))

    def test_row_padding_is_dropped_and_rows_reversed(self):
        for width in [1, 2, 3, 4, 5, 8, 127]:
            with self.subTest(width=width):
                self.check(width, 3)

    def test_five_by_two(self):
        # Stride 8: the output is bytes 8 to 12 of the block, then 0 to 4.
        block = bytes(range(16))
        bitmap = make_bitmap(5, 2, [block[8:13], block[0:5]])
        self.assertEqual(bitmap[-16:], bytes(range(5)) + bytes(3) + bytes(range(8, 13)) + bytes(3))
        status, out = self.convert(bitmap, "five.bmp")
        self.assert_converted(status, out, "five.frm", frame(5, 2, [block[8:13], block[0:5]]))

    def test_top_down_keeps_stored_order(self):
        self.check(5, 3, top_down=True)

    def test_empty_images_are_the_header_alone(self):
        for width, height in [(0, 5), (5, 0), (0, 0)]:
            with self.subTest(width=width, height=height):
                self.check(width, height)
        # No pixels to read: a pixel offset past the end does not matter.
        self.fresh()
        status, out = self.convert(past_the_end(make_bitmap(0, 9)), "far.bmp")
        self.assert_converted(status, out, "far.frm", frame(0, 9, []))

    def test_largest_sizes_a_frame_holds(self):
        self.check(65535, 1)
        self.check(1, 65535)

    def test_longer_and_shorter_information_headers(self):
        self.check(6, 2, info_size=124)
        # Headers shorter than 20 bytes hold no compression field.
        self.check(6, 2, info_size=16, compression=7)

    def test_existing_longer_output_is_replaced(self):
        self.put("pic.frm", b"old" * 10000)
        self.check(4, 4)

    def test_a_second_run_gives_the_same_file(self):
        self.check(7, 3)
        first = self.read("pic.frm")
        self.check(7, 3)
        self.assertEqual(self.read("pic.frm"), first)

    def test_without_standard_output(self):
        rows = sample_rows(3, 2)
        status, _ = self.convert(make_bitmap(3, 2, rows), "pic.bmp", no_stdout=True)
        self.assertEqual(status, 0)
        self.assertEqual(self.read("pic.frm"), frame(3, 2, rows))


def with_size(width, height):
    """A 1 x 1 bitmap whose header claims another size."""
    bitmap = bytearray(make_bitmap(1, 1))
    bitmap[18:26] = struct.pack("<ii", width, height)
    return bytes(bitmap)


def with_offset(offset):
    """A 16 x 4 bitmap with another pixel-data offset."""
    bitmap = bytearray(make_bitmap(16, 4))
    bitmap[10:14] = struct.pack("<i", offset)
    return bytes(bitmap)


def file_size_limit(size):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def address_space_limit():
    limit = ADDRESS_SPACE[PLATFORM]
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


class Stops(Case):
    """A stop gives its code and its one-line report; an earlier frame keeps
    its bytes and no temporary file remains."""

    def test_every_check_the_tests_can_reach(self):
        """One failure for each check in the program, each reported (to a
        file) with an address of its own."""
        bitmap = make_bitmap(16, 4)
        failures = [
            ("open input", None, CODE["missing"], {}),
            ("create output", bitmap, CODE["missing directory"], dict(argument="nowhere/pic.bmp")),
            ("output replaceable", bitmap, CODE["directory in the way"], dict(argument="dir.bmp")),
            ("file header read", bitmap[:5], 100, {}),
            ("information header read", bitmap[:20], 100, {}),
            ("bitmap check", make_bitmap(4, 4, bits=4), 201, {}),
            ("seek", with_offset(-8), CODE["negative seek"], {}),
            # (The limit would bind a file on standard output too.)
            ("header write refused", bitmap, CODE["write refused"],
             dict(preexec_fn=file_size_limit(0), stdout=subprocess.PIPE)),
            ("header write cut", bitmap, 101, dict(preexec_fn=file_size_limit(50))),
            # 65536 x 65535 bytes: over 2^31 - 7, refused before any allocation.
            ("block size", with_size(65535, 65535), 203, {}),
            # Just under 2 GiB would be allowed, but the address space is limited.
            ("allocation", with_size(65535, 32767), 203, dict(preexec_fn=address_space_limit)),
            ("pixel read", bitmap[:-1], 100, {}),
            # The file may hold the header and the first 16-byte row: the
            # second row's write is refused; with 10 bytes more it is cut.
            ("row write refused", bitmap, CODE["write refused"], dict(preexec_fn=file_size_limit(90))),
            ("row write cut", bitmap, 101, dict(preexec_fn=file_size_limit(84))),
        ]
        addresses = {}
        for name, bitmap, code, options in failures:
            if name == "allocation" and SANITIZED:
                continue  # a sanitized program can't even start in a small address space
            with self.subTest(name):
                self.fresh()
                os.mkdir(self.path("dir.frm"))
                address = self.stop(bitmap, code, **{"stdout": "file", **options})
                addresses.setdefault(address, []).append(name)
                self.assertTrue(os.path.isdir(self.path("dir.frm")))
        shared = {address: names for address, names in addresses.items() if len(names) > 1}
        self.assertEqual(shared, {}, "checks that share an address")

    def test_the_same_failure_gives_the_same_line(self):
        lines = set()
        for _ in range(3):
            self.fresh()
            lines.add(self.run_program("pic.bmp"))
        self.assertEqual(len(lines), 1, lines)

    def test_short_input(self):
        bitmap = make_bitmap(3, 2)
        for length in [0, 13, 14, 53]:
            with self.subTest(length=length):
                self.stop(bitmap[:length], 100)

    def test_pixel_offset_out_of_reach(self):
        self.stop(past_the_end(make_bitmap(3, 2)), 100)
        self.stop(with_offset(-(1 << 31)), CODE["negative seek"])

    def test_unsupported_bitmaps(self):
        for options in [dict(bits=24), dict(bits=1), dict(compression=1), dict(info_size=20, compression=2)]:
            with self.subTest(**options):
                self.stop(make_bitmap(4, 2, **options), 201)
        for width, height in [(-1, 2), (65536, 1), (1, 65536), (1, -65536), (1, -(1 << 31))]:
            with self.subTest(width=width, height=height):
                self.stop(with_size(width, height), 201)

    def test_stop_without_standard_output(self):
        # The input must not take standard output's descriptor and get the report.
        self.stop(make_bitmap(3, 2)[:30], 100, reported=False, no_stdout=True)

    def test_input_is_a_directory(self):
        os.mkdir(self.path(INPUT))
        self.stop(None, CODE["directory in the way"])
        self.assertTrue(os.path.isdir(self.path(INPUT)))


class Permissions(Case):
    """Run as an ordinary user, so that permissions bind even for root."""

    def setUp(self):
        super().setUp()
        probe = subprocess.run(["/bin/sh", "-c", "test -w ."], cwd=self.dir, preexec_fn=drop_privileges)
        if probe.returncode != 0:
            self.skipTest(f"an unprivileged user can't reach {self.dir}")
        if WINE and os.geteuid() == 0 and not WINE_USER_ENV:
            self.skipTest("Wine can't start as an unprivileged user")

    def test_read_only_or_unreadable_input(self):
        # The input is opened for reading and writing.
        for mode in [0o444, 0o222]:
            with self.subTest(mode=oct(mode)):
                self.fresh()
                self.put(INPUT, make_bitmap(3, 2), mode=mode)
                self.stop(None, CODE["access denied"], unprivileged=True)

    def test_read_only_output_is_not_replaced(self):
        self.put("pic.frm", b"keep", mode=0o444)
        status, out = self.convert(make_bitmap(3, 2), "pic.bmp", unprivileged=True)
        self.assert_stopped(status, out, CODE["access denied"], others={"pic.frm"})
        self.assertEqual(self.read("pic.frm"), b"keep")

    def test_unwritable_directory(self):
        self.put(INPUT, make_bitmap(3, 2))
        self.put("pic.frm", self.OLD)
        os.chmod(self.dir, 0o555)
        status, out = self.run_program("pic.bmp", unprivileged=True)
        self.assert_stopped(status, out, CODE["access denied"], others={"pic.frm"})
        self.assertEqual(self.read("pic.frm"), self.OLD)


class CommandLine(Case):
    """Windows: the program splits its raw command line itself. Each line is
    handed over exactly, through the launcher."""

    def setUp(self):
        if not LAUNCHER:
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


def wine_environment(prefix):
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")


def start_wine(env, as_user=None):
    """Prepares a Wine prefix once for the whole run and keeps its server and
    services running, started without the limits that some cases set on the
    program (a server started under a file-size limit crashes). Returns False
    when Wine can't start."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 env=env, preexec_fn=as_user)
    prefix = env["WINEPREFIX"]
    os.makedirs(prefix, exist_ok=True)
    subprocess.run(["wineserver", "-k"], **quiet)
    info = os.stat(prefix)
    socket = f"/tmp/.wine-{info.st_uid}/server-{info.st_dev:x}-{info.st_ino:x}/socket"
    subprocess.Popen(["wineserver", "--persistent", "--foreground"], start_new_session=True, **quiet)
    deadline = time.monotonic() + 30
    while not os.path.exists(socket) and time.monotonic() < deadline:
        time.sleep(0.05)
    if subprocess.run(["wineboot", "-i"], timeout=600, **quiet).returncode != 0:
        return False
    return subprocess.run([*WINE, PROGRAM], timeout=120, **quiet).returncode == 0


def stop_wine(env, as_user=None):
    subprocess.run(["wineserver", "-k"], env=env, preexec_fn=as_user,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    global PROGRAM, SUITE, LAUNCHER, WINE, WINE_USER_ENV, CODE, PLATFORM, SANITIZED
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--suite", required=True)
    parser.add_argument("--wine", action="store_true", help="the program is a Windows program to run under Wine")
    parser.add_argument("--launcher", help="Windows: the launcher that hands over exact command lines")
    parser.add_argument("--sanitized", action="store_true", help="the program is built with sanitizers")
    args, rest = parser.parse_known_args()
    SANITIZED = args.sanitized
    PROGRAM = os.path.abspath(args.program)
    SUITE = os.path.abspath(args.suite)
    if not args.wine:
        unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
        return

    WINE, CODE, PLATFORM = ["wine"], WINDOWS_CODES, "windows"
    LAUNCHER = os.path.abspath(args.launcher)
    os.environ.update(wine_environment(os.environ.get("WINEPREFIX") or tempfile.mkdtemp(prefix="tessera-wine-")))
    if not start_wine(os.environ):
        sys.exit("Wine can't start")
    # The cases that need an ordinary user run Wine as that user, with a prefix of its own.
    user_prefix = tempfile.mkdtemp(prefix="tessera-wine-user-")
    WINE_USER_ENV = dict(wine_environment(user_prefix), HOME=user_prefix)
    if os.geteuid() == 0:
        os.chmod(user_prefix, 0o755)
        os.chown(user_prefix, 65534, 65534)
        if not start_wine(WINE_USER_ENV, as_user=drop_privileges):
            WINE_USER_ENV = None
    try:
        unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False)
    finally:
        stop_wine(os.environ)
        if WINE_USER_ENV and os.geteuid() == 0:
            stop_wine(WINE_USER_ENV, as_user=drop_privileges)
        shutil.rmtree(user_prefix, ignore_errors=True)


if __name__ == "__main__":
    main()
