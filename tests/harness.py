"""What every end-to-end case stands on: the program under test and how to run
it (natively or under Wine), a fresh directory per case, the bitmap and frame
builders, and the checks of what a run leaves behind."""

import atexit
import itertools
import os
import random
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
# Prints each file's mode and its pixels.
PILLOW = "import sys, PIL.Image\nfor path in sys.argv[1:]: p = PIL.Image.open(path); print(p.mode, p.tobytes().hex())"


class Target:
    """The program under test; end_to_end.py sets it up before any case runs."""
    program = None
    palette_program = None  # tessera-palette, when its cases are to run
    frm_program = None      # tessera-frm, when its cases are to run
    launcher = None       # Windows: starts the program with an exact command line
    wine = None           # the command that runs a Windows program, when testing one
    wine_user_env = None  # Wine's environment for an ordinary user, when it has one
    sanitized = False     # the program is built with sanitizers
    platform = "posix"


target = Target()

# The operating system's error numbers the program passes on, by platform.
POSIX_CODES = {
    "missing": 2, "missing directory": 2, "access denied": 13, "directory in the way": 21,
    "negative seek": 22, "write refused": 27, "not a regular file": 29,
}
# A write past a file-size limit (Windows has none; Wine passes it on)
# fails with ERROR_GEN_FAILURE.
WINDOWS_CODES = {
    "missing": 2, "missing directory": 3, "access denied": 5, "directory in the way": 5,
    "negative seek": 131, "write refused": 31, "not a regular file": 222,
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


def frm_frame(width, height, pixels=None, offset=(0, 0), count=None, extra=b""):
    """One frame of an FRM: its header, its pixels (a pattern when not given)
    and `extra` bytes after them, which its pixel count covers unless given."""
    pixels = bytes((k * 7 + width) % 251 for k in range(width * height)) if pixels is None else pixels
    count = len(pixels) + len(extra) if count is None else count
    return struct.pack(">HHIhh", width, height, count, *offset) + pixels + extra


def make_frm(directions, fps=0, action_frame=0, shifts=((0, 0),) * 6, offsets=None, version=4, area_size=None,
             tail=b"", frames=None):
    """An FRM of `directions`, each a list of frm_frame()s, or the number of
    an earlier direction whose frames it shares. One list alone is a file of
    one direction, every offset 0."""
    starts, area = [], b""
    for d, frames_of in enumerate(directions):
        if isinstance(frames_of, int):
            starts.append(starts[frames_of])
        else:
            starts.append(len(area))
            area += b"".join(frames_of)
    starts = (starts * 6)[:6] if len(directions) == 1 else starts
    offsets = starts if offsets is None else offsets
    frames = len(directions[0]) if frames is None else frames
    header = struct.pack(">IHHH6h6h6II", version, fps, action_frame, frames, *(s[0] for s in shifts),
                         *(s[1] for s in shifts), *offsets, len(area) if area_size is None else area_size)
    return header + area + tail


def frm_bytes(frames, directions=1, fps=10, action_frame=0, shifts=((0, 0),), same_as=None):
    """An FRM of `frames`, each (width, height, pixels, x offset, y offset),
    stored in order and dealt equally into the directions that don't share
    (`same_as` {direction: the earlier one it shares}); `shifts` one pair for
    every direction or six."""
    same_as = same_as or {}
    n = len(frames) // (directions - len(same_as))
    stored = iter(frm_frame(width, height, pixels, (x, y)) for width, height, pixels, x, y in frames)
    return make_frm([same_as[d] if d in same_as else [next(stored) for _ in range(n)] for d in range(directions)],
                    fps, action_frame, list(shifts) * (6 // len(shifts)))


def random_rows(width, height, bits=8):
    """Indices at random: neighbours differ, so that every filter and code matters."""
    draw = random.Random(width * 1000 + height * 10 + bits)
    return [bytes(draw.randrange(1 << bits) for _ in range(width)) for _ in range(height)]


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

    def run_tool(self, program, *args, unprivileged=False):
        """Runs tessera-palette or tessera-frm in the case directory: (status,
        stdout, stderr), line ends and (under Wine) Wine's own messages aside;
        `unprivileged` as an ordinary user, so that file permissions bind.
        A hang fails the case rather than blocking the suite."""
        program = reachable_copy(program) if unprivileged else program

        def run():
            return subprocess.run([*(target.wine or []), program, *args], cwd=self.dir, capture_output=True,
                                  stdin=subprocess.DEVNULL, timeout=120, preexec_fn=drop_privileges if unprivileged
                                  else None, env=target.wine_user_env if unprivileged and target.wine else None)
        result = run()
        if target.wine and (result.returncode, result.stdout) == (1, b""):
            # Wine now and then fails to start a program (status 1, nothing
            # written; see run_program). The tools never end with 1 without a
            # line on standard output, so one more run tells them apart.
            sys.stderr.write(f"\nWine: status 1 and no output, run again: {os.path.basename(program)} {' '.join(args)}\n")
            result = run()
        err = result.stderr.decode(errors="replace").replace("\r\n", "\n")
        if target.wine:
            err = "".join(line + "\n" for line in err.splitlines() if not line.startswith(("wine:", "0")) and ":fixme:"
                          not in line and ":err:" not in line)
        return result.returncode, result.stdout.decode().replace("\r\n", "\n"), err

    def run_frm(self, *args):
        """Runs tessera-frm in the case directory: (status, stdout, stderr)."""
        return self.run_tool(target.frm_program, *args)

    def pillow_reads(self, paths):
        """Pillow's reading of each file as "MODE hex-of-pixels"; the Python
        that runs the tests may lack Pillow where the system's has it. Skips
        the case where none has it, except in CI."""
        python = next((python for python in (sys.executable, "/usr/bin/python3") if os.path.exists(python) and
                       subprocess.run([python, "-c", "import PIL"], capture_output=True).returncode == 0), None)
        if python is None and not os.environ.get("CI"):
            self.skipTest("no Python here has Pillow")
        self.assertIsNotNone(python, "no Python here has Pillow")
        read = subprocess.run([python, "-c", PILLOW, *paths], capture_output=True, text=True, check=True).stdout
        self.assertEqual(len(read.splitlines()), len(paths))
        return read.splitlines()

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


def lzw(indices, code_size, clear_every=0, reset_when_full=True):
    """GIF's LZW codes for `indices`, packed least significant bit first: a
    clear code first, another after every `clear_every` codes (0: only when
    the table is full, unless not `reset_when_full`), the end code last."""
    clear, out, state = 1 << code_size, bytearray(), [0, 0]  # bits held, how many

    def emit(code, width):
        state[0] |= code << state[1]
        state[1] += width
        while state[1] >= 8:
            out.append(state[0] & 0xFF)
            state[0] >>= 8
            state[1] -= 8

    def fresh():
        return {bytes([i]): i for i in range(clear)}, clear + 2, code_size + 1
    table, free, width = fresh()
    emit(clear, width)
    word, emitted = b"", 0
    for index in indices:
        if word + bytes([index]) in table:
            word += bytes([index])
            continue
        emit(table[word], width)
        emitted += 1
        # The decoder has as many entries as the encoder once the encoder stops
        # short of adding one (before a clear code or the end code).
        if clear_every and emitted % clear_every == 0 or free == 4096 and reset_when_full:
            emit(clear, width + (free == 1 << width and width < 12))
            table, free, width = fresh()
        elif free < 4096:
            # The decoder adds this entry a code later, so the widths agree
            # when the encoder widens one entry past 2^width.
            table[word + bytes([index])], free = free, free + 1
            width += free == (1 << width) + 1 and width < 12
        word = bytes([index])
    emit(table[word], width)
    emit(clear + 1, width + (free == 1 << width and width < 12))
    return bytes(out) + (bytes([state[0]]) if state[1] else b"")


def sub_blocks(data, size=255):
    return b"".join(bytes([len(data[at:at + size])]) + data[at:at + size] for at in range(0, len(data), size)) + b"\0"


def interlaced(rows):
    return [rows[y] for start, step in ((0, 8), (4, 8), (2, 4), (1, 2)) for y in range(start, len(rows), step)]


def gif_image(width, height, rows, left=0, top=0, code_size=8, interlace=False, local=False, data=None, **lzw_options):
    """An image block: its descriptor, a local colour table if asked, the code
    size and `rows` (or `data`) as LZW codes in sub-blocks."""
    flags = 0x40 * interlace + 0x80 * local + 7 * local
    if data is None:
        data = sub_blocks(lzw(b"".join(interlaced(rows) if interlace else rows), code_size, **lzw_options))
    return (struct.pack("<BHHHHB", 0x2C, left, top, width, height, flags) + bytes(768) * local + bytes([code_size]) +
            data)


def make_gif(width, height, rows=None, blocks=None, background=0, global_table=True, version=b"GIF89a", **image):
    """A GIF of a `width` x `height` screen: its colour table, then `blocks`
    (by default one image of `rows` covering the screen) and the trailer."""
    if blocks is None:
        blocks = [gif_image(width, height, rows if rows is not None else sample_rows(width, height), **image)]
    return (version + struct.pack("<HHBBB", width, height, 0x87 * global_table, background, 0) +
            bytes(768) * global_table + b"".join(blocks) + b";")


def packbits(data):
    """PackBits (PSD's RLE, IFF's ByteRun1): repeats of two or more as runs,
    the rest as literals."""
    out, at = bytearray(), 0
    while at < len(data):
        most = min(128, len(data) - at)
        run = next((n for n in range(1, most) if data[at + n] != data[at]), most)
        end = next((e for e in range(at + 1, at + most) if data[e] == data[e - 1]), at + most)
        out += bytes([257 - run, data[at]]) if run > 1 else bytes([end - at - 1]) + data[at:end]
        at += run if run > 1 else end - at
    return bytes(out)


def make_psd(width, height, rows=None, rle=True, channels=1, mode=2, depth=8, version=1, colours=bytes(768),
             resources=b"", layers=b"", counts=None, data=None, compression=None):
    """An indexed PSD of `rows` and `channels` - 1 channels of 255 after them,
    raw or RLE; `counts` replace the RLE row counts."""
    planes = (rows or sample_rows(width, height)) + [b"\xff" * width] * height * (channels - 1)
    if data is None:
        packed = [packbits(row) for row in planes] if rle else planes
        data = struct.pack(f">{len(planes)}H", *(counts or map(len, packed))) * rle + b"".join(packed)
    return (struct.pack(">4sH6xHIIHH", b"8BPS", version, channels, height, width, depth, mode) +
            b"".join(struct.pack(">I", len(s)) + s for s in (colours, resources, layers)) +
            struct.pack(">H", rle if compression is None else compression) + data)


def iff_chunk(kind, data):
    return kind + struct.pack(">I", len(data)) + data + b"\0" * (len(data) % 2)


def make_iff(width, height, rows=None, planes=8, pbm=False, masking=0, rle=True, by_rows=False, before=(),
             body=None, bmhd=None, form=None):
    """An ILBM (or PBM) of `rows`: BMHD, the chunks `before`, BODY stored or in
    ByteRun1 across rows and planes (or each row alone, `by_rows`)."""
    rows = rows or sample_rows(width, height, planes)
    plane_bytes, mask = (width + 15) // 16 * 2, b"\xaa" * ((width + 15) // 16 * 2) * (masking == 1)
    stored = [row + b"\0" * (width % 2) if pbm else b"".join(pack(bytes(i >> p & 1 for i in row), 1).ljust(
        plane_bytes, b"\0") for p in range(planes)) + mask for row in rows]
    if body is None:
        body = b"".join(map(packbits, stored)) if by_rows else packbits(b"".join(stored)) if rle else b"".join(stored)
    bmhd = bmhd or struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, planes, masking, rle, 0, 0, 1, 1, width, height)
    chunks = iff_chunk(b"BMHD", bmhd) + b"".join(before) + iff_chunk(b"BODY", body)
    return b"FORM" + struct.pack(">I", len(chunks) + 4) + (form or (b"PBM " if pbm else b"ILBM")) + chunks


def tga_packets(pixels):
    """TGA's RLE packets for `pixels`: runs of two or more, the rest literal."""
    out, at = bytearray(), 0
    while at < len(pixels):
        run = 1
        while run < 128 and at + run < len(pixels) and pixels[at + run] == pixels[at]:
            run += 1
        if run > 1:
            out += bytes([0x80 | run - 1, pixels[at]])
        else:
            end = at + 1
            while end - at < 128 and end < len(pixels) and (end + 1 == len(pixels) or pixels[end + 1] != pixels[end]):
                end += 1
            out += bytes([end - at - 1]) + pixels[at:end]
        at += run if run > 1 else end - at
    return bytes(out)


def make_tga(width, height, rows=None, rle=False, top_down=False, right_to_left=False, across_rows=True,
             image_id=b"", map_type=1, map_length=256, entry_bits=24, image_type=None, depth=8, data=None):
    """A colour-mapped TGA of `rows`, stored in the order its descriptor says;
    RLE packets may run across rows unless not `across_rows`."""
    rows = rows if rows is not None else sample_rows(width, height)
    stored = [row[::-1] if right_to_left else row for row in (rows if top_down else rows[::-1])]
    if data is None:
        data = (tga_packets(b"".join(stored)) if across_rows else b"".join(map(tga_packets, stored))) if rle else \
            b"".join(stored)
    image_type = image_type or (9 if rle else 1)
    header = struct.pack("<BBBHHBHHHHBB", len(image_id), map_type, image_type, 0, map_length, entry_bits, 0, 0,
                         width, height, depth, 0x20 * top_down + 0x10 * right_to_left)
    return header + image_id + bytes(map_length * ((entry_bits + 7) // 8)) * (map_type == 1) + data


def pcx_runs(data):
    """PCX's RLE of `data`: a count byte before runs and before bytes that
    would read as counts."""
    out, at = bytearray(), 0
    while at < len(data):
        run = 1
        while run < 63 and at + run < len(data) and data[at + run] == data[at]:
            run += 1
        out += bytes([0xC0 | run, data[at]]) if run > 1 or data[at] >= 0xC0 else data[at:at + 1]
        at += run
    return bytes(out)


def make_pcx(width, height, rows=None, bits=8, planes=1, rle=True, across_lines=False, line_bytes=None, xmin=0,
             ymin=0, data=None, version=5):
    """A PCX of `rows`: each scan line a plane after another, padded to
    `line_bytes` (by default the fewest even number of bytes); RLE runs may
    cross scan lines when `across_lines`. An 8-bit picture's own data is
    followed by a 256-colour table."""
    rows = rows if rows is not None else sample_rows(width, height, bits * planes)
    palette = b"\x0c" + bytes(range(256)) + bytes(512) if bits == 8 and data is None else b""
    line_bytes = line_bytes or (width * bits + 15) // 16 * 2
    lines = [b"".join(pack(bytes(i >> p & 1 for i in row) if planes > 1 else row, bits).ljust(line_bytes, b"\0")
                      for p in range(planes)) for row in rows]
    if data is None:
        data = (pcx_runs(b"".join(lines)) if across_lines else b"".join(map(pcx_runs, lines))) if rle else \
            b"".join(lines)
    header = struct.pack("<BBBBHHHH", 10, version, rle, bits, xmin, ymin, xmin + width - 1, ymin + height - 1)
    return header.ljust(65, b"\0") + struct.pack("<BH", planes, line_bytes).ljust(63, b"\0") + data + palette


def tiff_lzw(data, clear_when_full=True):
    """TIFF's LZW codes for `data`, most significant bit first: a clear code,
    the codes at the widths a decoder that widens one code early reads them,
    the end code."""
    value, count, out = 0, 0, bytearray()
    table, since_clear = {bytes([i]): i for i in range(256)}, 0

    def emit(code):
        nonlocal value, count, since_clear
        entries = min(258 + max(since_clear - 1, 0), 4096)  # the decoder's table as it reads this code
        width = 9 + (entries >= 511) + (entries >= 1023) + (entries >= 2047)
        value, count, since_clear = value << width | code, count + width, since_clear + 1
    emit(256)
    since_clear, word = 0, b""
    for byte in data:
        if word + bytes([byte]) in table:
            word += bytes([byte])
            continue
        emit(table[word])
        if len(table) + 2 < 4096:
            table[word + bytes([byte])] = len(table) + 2
        elif clear_when_full:
            emit(256)
            table, since_clear = {bytes([i]): i for i in range(256)}, 0
        word = bytes([byte])
    if word:
        emit(table[word])
    emit(257)
    return (value << (-count % 8)).to_bytes((count + 7) // 8, "big")


def packbits(data):
    """PackBits of `data` (TGA's packets, recoded), after a 128 that does nothing."""
    packets, out, at = tga_packets(data), bytearray([128]), 0
    while at < len(packets):
        head = packets[at]
        if head & 0x80:
            out += bytes([256 - (head & 0x7F), packets[at + 1]])
            at += 2
        else:
            out += packets[at:at + head + 2]
            at += head + 2
    return bytes(out)


TIFF_COMPRESSIONS = {1: bytes, 5: tiff_lzw, 8: zlib.compress, 32946: zlib.compress, 32773: packbits}


def make_tiff(width, height, rows=None, bits=8, compression=1, predictor=1, samples=1, planar=1, strip_rows=None,
              tile=None, order="<", tags=None, duplicate=(), next_page=False, data=None, compress=None):
    """A palette TIFF of `rows`: strips of `strip_rows` rows or tiles of
    `tile` (width, height), sample 0 the index and any others filled in, in
    one plane or a plane a sample. `tags` replaces entries ({tag: (type,
    values)}, or (type, count, field) as they stand, or None to leave the tag
    out); `duplicate` adds entries after the others; `data` replaces every
    piece; `next_page` links a second directory no reader of the first page
    may read."""
    rows = rows if rows is not None else sample_rows(width, height, bits)
    tile_width, tile_height = tile or (width, strip_rows or height)
    planes, mask = samples if planar == 2 else 1, (1 << bits) - 1
    pieces = []
    for plane in range(planes):
        for top in range(0, height, tile_height):
            for left in range(0, width, tile_width):
                stored = b""
                for y in range(top, min(top + tile_height, height) if tile is None else top + tile_height):
                    pixels = [rows[y][x] if x < width and y < height else 0 for x in range(left, left + tile_width)]
                    line = bytearray(pack(bytes((p + s * 5) & mask for p in pixels for s in range(samples)
                                                if planar == 1 or s == plane), bits))
                    step = samples if planar == 1 else 1
                    for k in range(len(line) - 1, step - 1, -1) if predictor == 2 else ():
                        line[k] = (line[k] - line[k - step]) & 0xFF
                    stored += line
                pieces.append(data if data is not None else (compress or TIFF_COMPRESSIONS[compression])(stored))
    at, offsets = 8, []
    for piece in pieces:
        offsets.append(at)
        at += len(piece)
    ifd = at
    entries = {256: (3, [width]), 257: (4, [height]), 258: (3, [bits] * samples), 259: (3, [compression]),
               262: (3, [3]), 274: (3, [1]), 277: (3, [samples]), 284: (3, [planar]), 317: (3, [predictor]),
               320: (3, [v % 256 * 257 for v in range(3 << bits)]), 338: (3, [2] * (samples - 1)),
               339: (3, [1] * samples)}
    entries.update({322: (4, [tile_width]), 323: (3, [tile_height]), 324: (4, offsets),
                    325: (4, list(map(len, pieces)))} if tile else
                   {273: (4, offsets), 278: (4, [tile_height]), 279: (3, list(map(len, pieces)))})
    entries.update(tags or {})
    listed = [(tag, entry) for tag, entry in sorted(entries.items()) if entry is not None and entry[1] != []]
    listed += list(duplicate)
    values_at = ifd + 2 + 12 * len(listed) + 4
    packed, out_of_line = [], b""
    for tag, (kind, *rest) in listed:
        if isinstance(rest[0], int):
            packed.append(struct.pack(order + "HHII", tag, kind, *rest))
            continue
        values = struct.pack(order + {1: "B", 3: "H", 4: "I"}.get(kind, "I") * len(rest[0]), *rest[0])
        if len(values) <= 4:
            packed.append(struct.pack(order + "HHI", tag, kind, len(rest[0])) + values.ljust(4, b"\0"))
        else:
            packed.append(struct.pack(order + "HHII", tag, kind, len(rest[0]), values_at + len(out_of_line)))
            out_of_line += values + b"\0" * (len(values) % 2)
    after = values_at + len(out_of_line)
    second = struct.pack(order + "HHHII", 1, 259, 3, 1, 7) + bytes(4) if next_page else b""
    header = (b"II" if order == "<" else b"MM") + struct.pack(order + "HI", 42, ifd)
    return (header + b"".join(pieces) + struct.pack(order + "H", len(listed)) + b"".join(packed) +
            struct.pack(order + "I", after if next_page else 0) + out_of_line + second)
