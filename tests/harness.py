"""What every end-to-end case stands on: the program under test and how to run
it (natively or under Wine), a fresh directory per case, the bitmap and frame
builders, and the checks of what a run leaves behind."""

import atexit
import itertools
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

WARNING = b"Do not run this program outside of hobrent.bat\r\n unless you know exactly how it works!\r\n"
INPUT = "vantrel.tmp"
CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
# Pictures named in other scripts than Latin, each with the frame it gives:
# Cyrillic, Greek (two dots), CJK (in code page 932 its second byte would be
# a backslash), an emoji (four bytes of UTF-8) after a space, and Latin-1.
NAMES = [("Дерево.bmp", "Дерево.frm"), ("ελληνικά.old.bmp", "ελληνικά.frm"), ("表.bmp", "表.frm"),
         ("🌲 tree.bmp", "🌲 tree.frm"), ("Bäume.bmp", "Bäume.frm")]


class Target:
    """The program under test; end_to_end.py sets it up before any case runs."""
    program = None
    launcher = None       # Windows: starts the program with an exact command line
    wine = None           # the command that runs a Windows program, when testing one
    wine_user_env = None  # Wine's environment for an ordinary user, when it has one
    sanitized = False     # the program is built with sanitizers
    platform = "posix"


target = Target()

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
CODE = dict(POSIX_CODES)  # switched to WINDOWS_CODES in place for a Windows program
# Address space the program may have when an allocation must fail: Wine
# alone needs more than a native program.
ADDRESS_SPACE = {"posix": 256 << 20, "windows": 2000000 << 10}


def make_bitmap(width, height, rows=None, bits=8, compression=0, info_size=40,
                offset=None, top_down=False, stream=None):
    """A bitmap with `rows` (top to bottom, each `width` indices) stored as the
    format wants: `bits` bits a pixel (1, 2 or 4 packed, leftmost pixel in the
    high bits; any other depth one byte a pixel), rows padded to 4 bytes,
    bottom-up unless `top_down`. Or with `stream` as its pixel data. An
    `info_size` of 12 gives an OS/2 core header and a 3-byte colour table."""
    if rows is None:
        rows = sample_rows(width, height, min(bits, 8))
    if stream is None:
        stride = (width * min(bits, 8) + 31) // 32 * 4
        stored = rows if top_down else rows[::-1]
        stream = b"".join(pack(row, bits).ljust(stride, b"\0") for row in stored)
    pixels = stream
    if info_size == 12:
        info, palette = struct.pack("<IHHHH", 12, width, height, 1, bits), bytes(range(256)) * 3
    else:
        info, palette = struct.pack("<IiiHHIIiiII", info_size, width, -height if top_down else height, 1, bits,
                                    compression, len(pixels), 2835, 2835, 256, 0), bytes(range(256)) * 4
        info = (info + bytes(max(0, info_size - len(info))))[:max(info_size, 40)]
    if offset is None:
        offset = 14 + info_size + len(palette)
    head = struct.pack("<2sIHHi", b"BM", offset + len(pixels), 0, 0, offset) + info + palette
    return head.ljust(offset, b"\0")[:offset] + pixels


def pack(row, bits):
    """Indices of 1, 2 or 4 bits packed into bytes, leftmost in the high bits."""
    if bits not in (1, 2, 4):
        return row
    per_byte = 8 // bits
    return bytes(sum(index << (8 - bits * (k + 1)) for k, index in enumerate(row[at:at + per_byte]))
                 for at in range(0, len(row), per_byte))


def past_the_end(bitmap):
    """The bitmap with its pixel-data offset pointing past its end."""
    return bitmap[:10] + struct.pack("<i", len(bitmap) + 1000) + bitmap[14:]


def with_size(width, height, **bitmap_options):
    """A 1 x 1 bitmap whose header claims another size."""
    bitmap = bytearray(make_bitmap(1, 1, **bitmap_options))
    bitmap[18:26] = struct.pack("<ii", width, height)
    return bytes(bitmap)


def with_offset(offset):
    """A 16 x 4 bitmap with another pixel-data offset."""
    bitmap = bytearray(make_bitmap(16, 4))
    bitmap[10:14] = struct.pack("<i", offset)
    return bytes(bitmap)


def frame(width, height, rows):
    """The frame file the program must write for these rows."""
    pixels = width * height
    header = struct.pack(">IHHH12x12x24xIHHIHH", 4, 0, 0, 1, (pixels + 12) & 0xFFFFFFFF,
                         width & 0xFFFF, height & 0xFFFF, pixels & 0xFFFFFFFF, 0, 0)
    return header + b"".join(rows)


def sample_rows(width, height, bits=8):
    mask = (1 << bits) - 1
    return [bytes((x * 7 + y * 13) & mask for x in range(width)) for y in range(height)]


PNG = b"\x89PNG\r\n\x1a\n"
# Adam7's passes: first column, first row, column step, row step.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png_passes(interlace):
    return ADAM7 if interlace else [(0, 0, 1, 1)]


def png_predict(kind, a, b, c):
    """What PNG filter `kind` adds to a byte, from the bytes to its left, above
    it and above its left neighbour."""
    p = a + b - c
    paeth = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
    return (0, a, b, (a + b) // 2, paeth)[kind]


def png_image_data(width, height, rows, depth=8, interlace=0, filters=(0,)):
    """The image data before compression: each pass's rows (passes without
    columns have none), packed and filtered, each after its filter type, which
    is `filters` in turn."""
    data, kinds = bytearray(), itertools.cycle(filters)
    for x0, y0, dx, dy in png_passes(interlace):
        prior = None
        for y in range(y0, height, dy) if x0 < width else ():
            line = pack(rows[y][x0::dx], depth)
            prior, kind = prior or bytes(len(line)), next(kinds)
            data.append(kind)
            data += bytes((v - png_predict(kind, line[i - 1] if i else 0, prior[i], prior[i - 1] if i else 0)) & 0xFF
                          for i, v in enumerate(line))
            prior = line
    return bytes(data)


def png_chunk(kind, data=b""):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def damaged(chunk):
    """The chunk with a wrong CRC."""
    return chunk[:-1] + bytes([chunk[-1] ^ 1])


def ihdr(width, height, depth=8, colour=3, compression=0, filter=0, interlace=0, size=13):
    return png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, compression, filter,
                                          interlace).ljust(size, b"\0")[:size])


PLTE = png_chunk(b"PLTE", bytes(range(256)) * 3)


def make_png(width, height, rows=None, depth=8, interlace=0, filters=(0,), data=None, level=6, stream=None,
             split=None, head=None, before=(PLTE,), after=(b"IEND",)):
    """An indexed PNG of `rows`: IHDR (or `head`), the chunks `before`, the
    image data (or `data`) compressed at `level` (or `stream`) in IDAT chunks
    of `split` bytes, the chunks `after`. A 4-byte chunk is an empty one of
    that type."""
    if stream is None:
        if data is None:
            data = png_image_data(width, height, rows or sample_rows(width, height, depth), depth, interlace, filters)
        stream = zlib.compress(data, level)
    split = split or len(stream) or 1
    chunks = [head or ihdr(width, height, depth, interlace=interlace), *before,
              *(png_chunk(b"IDAT", stream[at:at + split]) for at in range(0, len(stream), split)), *after]
    return PNG + b"".join(png_chunk(chunk) if len(chunk) == 4 else chunk for chunk in chunks)


def windows_path(path):
    """The path as a Windows program under Wine sees it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def file_size_limit(size):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


def address_space_limit():
    limit = ADDRESS_SPACE[target.platform]
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def drop_privileges():
    """Runs the program as an ordinary user, so that file permissions bind."""
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


_reachable = {}


def reachable_copy(path):
    """A copy of `path` that an ordinary user can run: the build directory may
    lie where only root may enter (a checkout in /root)."""
    if os.geteuid() != 0:
        return path
    if path not in _reachable:
        directory = tempfile.mkdtemp(prefix="tessera-program-")
        atexit.register(shutil.rmtree, directory, ignore_errors=True)
        os.chmod(directory, 0o755)
        copy = os.path.join(directory, os.path.basename(path))
        shutil.copy(path, copy)
        os.chmod(copy, 0o755)
        _reachable[path] = copy
    return _reachable[path]


class Case(unittest.TestCase):
    """One fresh directory per test, removed afterwards."""

    def setUp(self):
        self.made = []
        self.stderr = b""
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
        wine = target.wine
        if no_stdout and wine:
            line = b" ".join([b"tessera", *(arg.encode() for arg in args)])
            return self.run_command_line(line, "--no-stdout", stdout=None, preexec_fn=preexec_fn)
        if no_stdout:
            stdout = None

        def before():
            if no_stdout:
                os.close(1)
            if wine:
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
            program = reachable_copy(target.program) if unprivileged else target.program
            command = [*(wine or []), program, *args]
        env = target.wine_user_env if unprivileged and wine else None

        def run():
            return subprocess.run(command, cwd=self.dir, stdout=stdout, stderr=subprocess.PIPE, env=env,
                                  stdin=subprocess.DEVNULL, preexec_fn=before, timeout=120)
        result = run()
        if wine and stdout == subprocess.PIPE and (result.returncode, result.stdout) == (1, b""):
            # Wine now and then fails to start a program: status 1, nothing
            # written (seen once in CI). No case expects that of the program,
            # which reports each stop it can, so one more run tells the two
            # apart: a fault of the program's own comes back.
            self.stderr = result.stderr
            sys.stderr.write(f"\nWine: status 1 and no output, run again; {self.said()}\n")
            result = run()
        if not wine:
            # The program never writes there: anything is a sanitizer's report.
            self.assertEqual(result.stderr.decode(errors="replace"), "")
        self.stderr = result.stderr
        return result.returncode, result.stdout or b""

    def said(self):
        """What the last run wrote to standard error (Wine's messages), for a
        failure's message."""
        return "standard error: " + self.stderr.decode(errors="replace")[-2000:]

    def launcher_command(self, line, *launcher_options):
        """Windows: the command that runs the program with exactly this
        command line, kept in a file until the case ends."""
        handle, line_file = tempfile.mkstemp(suffix=".line")  # not in the case directory
        os.write(handle, line)
        os.close(handle)
        self.addCleanup(os.remove, line_file)
        return [*target.wine, target.launcher, target.program, line_file, *launcher_options]

    def run_command_line(self, line, *launcher_options, **kwargs):
        """Windows: runs the program with exactly this command line."""
        return self.run_program(command=self.launcher_command(line, *launcher_options), **kwargs)

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
        self.assertEqual((status, out), (0, b""), self.said())
        self.assertEqual(self.read(name), expected)
        self.assertEqual(self.files(), {INPUT, name, *others})

    def assert_report(self, status, out, code):
        """A stop with `code`: its exit status and its report, exactly; returns
        the report's address."""
        self.assertEqual(status, code & 0xFF, self.said())
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
            self.assertEqual((status, out), (code & 0xFF, b""), self.said())
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
