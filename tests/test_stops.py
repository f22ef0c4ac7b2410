"""Failures: each stop's code and report, and what it leaves on disk."""

import os
import re
import signal
import struct
import subprocess
import time
import zlib

from harness import (CODE, INPUT, PLTE, PNG, Case, address_space_limit, damaged, file_size_limit, frame, gif_image,
                     iff_chunk, ihdr, make_bitmap, make_gif, make_iff, make_pcx, make_png, make_psd, make_tga,
                     make_tiff, past_the_end, sample_rows, target, tiff_lzw, with_offset, with_size)
from test_psd_iff import bmhd


class Stops(Case):
    """A stop gives its code and its one-line report; an earlier frame keeps
    its bytes and no temporary file remains."""

    def test_every_check_the_tests_can_reach(self):
        """One failure for each check in the program, each reported (to a
        file) with an address of its own."""
        bitmap, png, gif, tga, pcx = make_bitmap(16, 4), make_png(4, 2), make_gif(4, 2), make_tga(4, 2), make_pcx(4, 2)
        psd, iff = make_psd(4, 2), make_iff(4, 2)
        tiff = make_tiff(4, 2)
        rows = sample_rows(4, 2)
        image = gif_image(4, 2, rows)
        failures = [
            ("open input", None, CODE["missing"], {}),
            ("create output", bitmap, CODE["missing directory"], dict(argument="nowhere/pic.bmp")),
            ("output replaceable", bitmap, CODE["directory in the way"], dict(argument="dir.bmp")),
            ("file header read", bitmap[:5], 100, {}),
            ("information header read", bitmap[:20], 100, {}),
            ("bitmap check", make_bitmap(4, 4, bits=24), 201, {}),
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
            # 65535 x 65535 one-bit pixels: 512 MiB stored, 4 GiB expanded.
            ("expanded size", with_size(65535, 65535, bits=1), 203, {}),
            ("decoded picture's allocation", with_size(65535, 32767, compression=1, stream=b"\0\1"), 203,
             dict(preexec_fn=address_space_limit)),
            ("stream without its end", make_bitmap(4, 2, compression=1, stream=b"\4\7\0\0\4\7"), 100, {}),
            # The file may hold the header and the first 16-byte row: the
            # second row's write is refused; with 10 bytes more it is cut.
            ("row write refused", bitmap, CODE["write refused"], dict(preexec_fn=file_size_limit(90))),
            ("row write cut", bitmap, 101, dict(preexec_fn=file_size_limit(84))),
            ("PNG chunk header read", PNG, 100, {}),
            ("PNG chunk past the end", png[:30], 100, {}),
            ("PNG chunk's CRC", make_png(4, 2, head=damaged(ihdr(4, 2))), 100, {}),
            ("PNG first chunk", make_png(4, 2, head=PLTE), 201, {}),
            ("PNG IHDR check", make_png(4, 2, head=ihdr(4, 2, colour=2)), 201, {}),
            ("PNG size", make_png(4, 2, head=ihdr(65535, 65535)), 203, {}),
            ("PNG picture's allocation", make_png(4, 2, head=ihdr(65535, 32767)), 203,
             dict(preexec_fn=address_space_limit)),
            ("PNG unknown critical chunk", make_png(4, 2, before=(b"CgBI",)), 201, {}),
            ("PNG without image data", make_png(4, 2, before=(b"IEND",)), 100, {}),
            ("PNG chunk inside the image data", make_png(4, 2, stream=zlib.compress(bytes(10), 0)[:9], after=(b"tEXt",)),
             100, {}),
            ("PNG image data", make_png(4, 2, stream=b"\x78\x9c\xff"), 100, {}),
            ("PNG filter type", make_png(4, 2, data=bytes([5]) + bytes(9)), 100, {}),
            ("GIF screen descriptor", gif[:12], 100, {}),
            ("GIF screen size", make_gif(0, 0, blocks=[struct.pack("<BHHHHB", 0x2C, 0, 0, 0, 0, 0)]), 201, {}),
            ("GIF screen above 65535", make_gif(0, 2, blocks=[struct.pack("<BHHHHB", 0x2C, 65535, 0, 1, 2, 0)]), 201,
             {}),
            ("GIF screen too large", make_gif(65535, 65535, blocks=[image[:10]]), 203, {}),
            ("GIF screen's allocation", make_gif(65535, 32767, blocks=[image[:10]]), 203,
             dict(preexec_fn=address_space_limit)),
            ("GIF colour table", gif[:40], 100, {}),
            # 20 bytes, announcing a screen of 2 GB: no allocation before an image.
            ("GIF no block, and no allocation", make_gif(46000, 46000, [], [b"!\xfe\3abc\0"], global_table=False)[:-1],
             100, dict(preexec_fn=address_space_limit)),
            ("GIF no image", make_gif(4, 2, blocks=[]), 100, {}),
            ("GIF extension label", make_gif(4, 2, blocks=[b"!"])[:-1], 100, {}),
            ("GIF extension sub-block length", make_gif(4, 2, blocks=[b"!\xfe"])[:-1], 100, {}),
            ("GIF extension sub-block", make_gif(4, 2, blocks=[b"!\xfe\5ab"])[:-1], 100, {}),
            ("GIF image descriptor", make_gif(4, 2, blocks=[image[:7]])[:-1], 100, {}),
            ("GIF local colour table", make_gif(4, 2, blocks=[gif_image(4, 2, rows, local=True)[:50]])[:-1], 100, {}),
            ("GIF code size missing", make_gif(4, 2, blocks=[image[:10]])[:-1], 100, {}),
            ("GIF code size", make_gif(4, 2, code_size=1, data=image[11:]), 100, {}),
            ("GIF image data missing", make_gif(4, 2, blocks=[image[:11]])[:-1], 100, {}),
            ("GIF image data's end", make_gif(4, 2, data=b"\0"), 100, {}),
            ("GIF image data cut", make_gif(4, 2, blocks=[image[:14]])[:-1], 100, {}),
            ("GIF end code", make_gif(4, 2, code_size=2, data=b"\1\x05\0"), 100, {}),
            ("GIF undefined code", make_gif(4, 2, code_size=2, data=b"\1\x07\0"), 100, {}),
            ("GIF image beside the screen too large", make_gif(4, 2, blocks=[gif_image(65535, 32769, [], data=b"")]),
             203, {}),
            ("GIF image's allocation", make_gif(4, 2, blocks=[gif_image(65535, 32767, [], data=b"")]), 203,
             dict(preexec_fn=address_space_limit)),
            ("TIFF header", tiff[:7], 100, {}),
            ("TIFF BigTIFF", b"II+\0" + bytes(12), 201, {}),
            ("TIFF directory position", b"MM\0*\0\0\0\x63" + bytes(9), 100, {}),
            ("TIFF directory cut", tiff[:30], 100, {}),
            ("TIFF no ImageWidth", make_tiff(4, 2, tags={256: None}), 100, {}),
            ("TIFF no ImageLength", make_tiff(4, 2, tags={257: None}), 100, {}),
            ("TIFF tag type", make_tiff(4, 2, tags={256: (5, 1, 4)}), 100, {}),
            ("TIFF tag values past the end", make_tiff(4, 2, tags={258: (3, 3, 99999)}), 100, {}),
            ("TIFF size", make_tiff(4, 2, tags={256: (4, [65536])}), 201, {}),
            ("TIFF photometric", make_tiff(4, 2, tags={262: (3, [1])}), 201, {}),
            ("TIFF bits", make_tiff(4, 2, tags={258: (3, [16])}), 201, {}),
            ("TIFF compression", make_tiff(4, 2, tags={259: (3, [7])}), 201, {}),
            ("TIFF picture too large", make_tiff(4, 2, tags={256: (3, [65535]), 257: (3, [32769])}), 203, {}),
            ("TIFF RowsPerStrip 0", make_tiff(4, 2, tags={278: (3, [0])}), 100, {}),
            ("TIFF tile side 0", make_tiff(4, 2, tile=(16, 16), tags={322: (3, [0])}), 100, {}),
            ("TIFF offsets", make_tiff(4, 2, tags={273: None}), 100, {}),
            ("TIFF byte counts", make_tiff(4, 2, compression=5, tags={279: None}), 100, {}),
            ("TIFF strip past the end", make_tiff(4, 2, tags={273: (4, [99999])}), 100, {}),
            ("TIFF strip short", make_tiff(4, 2, tags={279: (4, [7])}), 100, {}),
            ("TIFF tile and picture too large", make_tiff(1, 1, tile=(1, 1), compression=5,
                                                         tags={322: (4, [1 << 31])}), 203, {}),
            ("TIFF picture's allocation",
             make_tiff(4, 2, compression=5, tags={256: (3, [65535]), 257: (3, [32767]), 278: None}), 203,
             dict(preexec_fn=address_space_limit)),
            ("TIFF PackBits", make_tiff(4, 2, compression=32773, data=b"\0\0"), 100, {}),
            ("TIFF PackBits literal", make_tiff(4, 2, compression=32773, data=b"\x09\0"), 100, {}),
            ("TIFF PackBits repeat", make_tiff(4, 2, compression=32773, data=b"\x81"), 100, {}),
            ("TIFF LZW data", make_tiff(4, 2, compression=5, data=tiff_lzw(bytes(8))[:-3]), 100, {}),
            ("TIFF LZW end code", make_tiff(4, 2, compression=5, data=tiff_lzw(bytes(7))), 100, {}),
            ("TIFF LZW undefined code", make_tiff(4, 2, compression=5, data=b"\x80\0\x25\x80"), 100, {}),
            ("TIFF deflate data", make_tiff(4, 2, compression=8, data=zlib.compress(bytes(8))[:4]), 100, {}),
            ("TIFF deflate damaged", make_tiff(4, 2, compression=8, data=b"\x78\x9c\xff" + bytes(9)), 100, {}),
            ("TGA header", tga[:17], 100, {}),
            ("TGA image type", make_tga(4, 2, image_type=2, depth=24), 201, {}),
            ("TGA size", make_tga(65535, 65535, []), 203, {}),
            ("TGA picture's allocation", make_tga(65535, 32767, []), 203, dict(preexec_fn=address_space_limit)),
            ("TGA colour map", tga[:100], 100, {}),
            ("TGA pixels", tga[:-1], 100, {}),
            ("TGA packet", make_tga(4, 2, rle=True, data=b""), 100, {}),
            ("TGA run's index", make_tga(4, 2, rle=True, data=b"\x81"), 100, {}),
            ("TGA literal packet", make_tga(4, 2, rle=True, data=b"\x07\0"), 100, {}),
            ("PCX header", pcx[:100], 100, {}),
            ("PCX depth and planes", make_pcx(4, 2, bits=8, planes=3), 201, {}),
            ("PCX bounds", make_pcx(4, 2, xmin=9)[:8] + bytes(2) + pcx[10:], 201, {}),
            ("PCX bytes a line", make_pcx(4, 2, line_bytes=1), 201, {}),
            ("PCX size", make_pcx(65535, 65535, [], line_bytes=65535), 203, {}),
            ("PCX picture's allocation", make_pcx(65535, 32767, [], line_bytes=65535), 203,
             dict(preexec_fn=address_space_limit)),
            ("PCX stored scan line", make_pcx(4, 2, rle=False, data=b"\0"), 100, {}),
            ("PCX run", make_pcx(4, 2, data=b""), 100, {}),
            ("PCX run's byte", make_pcx(4, 2, data=b"\xc2"), 100, {}),
            ("PSD header", psd[:25], 100, {}),
            ("PSD version", make_psd(4, 2, version=2), 201, {}),
            ("PSD mode", make_psd(4, 2, mode=3), 201, {}),
            ("PSD size", make_psd(0, 2), 201, {}),
            ("PSD too large", make_psd(65535, 32769, [b""], data=b""), 203, {}),
            ("PSD picture's allocation", make_psd(65535, 32767, [b""], data=b""), 203,
             dict(preexec_fn=address_space_limit)),
            *((f"PSD cut at {at}", make_psd(4, 2, resources=b"abc", layers=b"abc")[:at], 100, {})
              for at in (29, 100, 800, 803, 806, 810, 812, 814)),
            ("PSD compression", make_psd(4, 2, compression=2), 201, {}),
            ("PSD raw data", make_psd(4, 2, rle=False)[:-1], 100, {}),
            ("PSD packed data", psd[:-1], 100, {}),
            ("IFF form", iff[:11], 100, {}),
            ("IFF form type", make_iff(4, 2, form=b"ANIM"), 201, {}),
            *((f"IFF cut at {at}", make_iff(4, 2, bmhd=bmhd(4, 2) + bytes(9))[:at], 100, {}) for at in (19, 30, 45)),
            ("IFF BMHD size", make_iff(4, 2, bmhd=bytes(19)), 100, {}),
            ("IFF size", make_iff(4, 2, bmhd=bmhd(0, 2)), 201, {}),
            ("IFF planes", make_iff(4, 2, bmhd=bmhd(4, 2, planes=9)), 201, {}),
            ("IFF masking", make_iff(4, 2, bmhd=bmhd(4, 2, masking=4)), 201, {}),
            ("IFF too large", make_iff(4, 2, bmhd=bmhd(65535, 32769)), 203, {}),
            ("IFF picture's allocation", make_iff(4, 2, bmhd=bmhd(65535, 32767)), 203,
             dict(preexec_fn=address_space_limit)),
            ("IFF DCOL", make_iff(4, 2, before=[iff_chunk(b"DCOL", b"")]), 201, {}),
            ("IFF CAMG", iff[:40] + b"CAMG\0\0\0\4", 100, {}),
            ("IFF HAM", make_iff(4, 2, before=[iff_chunk(b"CAMG", b"\0\0\x08\0")]), 201, {}),
            ("IFF chunk past the end", make_iff(4, 2, before=[b"ANNO\0\0\1\0"]), 100, {}),
            ("IFF BODY first", iff[:12] + iff_chunk(b"BODY", b""), 100, {}),
            ("IFF BODY short", make_iff(4, 2, body=b"\xee"), 100, {}),
        ]
        addresses = {}
        for name, bitmap, code, options in failures:
            if "allocation" in name and target.sanitized:
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
        self.stop(make_bitmap(3, 2, info_size=12)[:25], 100)  # an OS/2 core header needs its 12 bytes

    def test_pixel_offset_out_of_reach(self):
        self.stop(past_the_end(make_bitmap(3, 2)), 100)
        self.stop(past_the_end(make_bitmap(3, 2, compression=1, stream=b"\0\1")), 100)
        self.stop(with_offset(-(1 << 31)), CODE["negative seek"])

    def test_unsupported_bitmaps(self):
        # Colours that need a palette of the game's to become indices; other
        # compressions; RLE that doesn't match the depth or is top-down.
        for options in [dict(bits=16), dict(bits=24), dict(bits=32), dict(bits=64), dict(bits=0), dict(bits=3),
                        dict(info_size=12, bits=24), dict(compression=3), dict(compression=4), dict(compression=5),
                        dict(bits=1, compression=2), dict(info_size=20, compression=2),
                        dict(compression=1, top_down=True), dict(bits=4, compression=2, top_down=True)]:
            with self.subTest(**options):
                self.stop(make_bitmap(4, 2, **options), 201)
        for width, height in [(-1, 2), (65536, 1), (1, 65536), (1, -65536), (1, -(1 << 31))]:
            with self.subTest(width=width, height=height):
                self.stop(with_size(width, height), 201)

    def test_stop_without_standard_output(self):
        # The report is lost and the code still tells. Closed: the input must
        # not take standard output's descriptor and get the report. A file
        # past its size limit must not end the program by a signal.
        for name, bitmap, code, options in [
                ("closed", make_bitmap(3, 2)[:30], 100, dict(no_stdout=True)),
                ("file past its size limit", None, CODE["missing"], dict(stdout="file", preexec_fn=file_size_limit(0))),
        ]:
            with self.subTest(name):
                self.fresh()
                self.stop(bitmap, code, reported=False, **options)

    def test_input_is_no_file(self):
        """A folder, or a FIFO no one writes (which must not hold the run)."""
        for make, code in [(os.mkdir, CODE["directory in the way"]), (os.mkfifo, CODE["not a regular file"])]:
            with self.subTest(make.__name__):
                self.fresh()
                make(self.path(INPUT))
                self.stop(None, code)
                self.assertFalse(os.path.isfile(self.path(INPUT)))


class HeldFrame(Case):
    """Windows: another program holds a file of the run open. The earlier
    frame, held without letting it be written (a viewer sharing only reading)
    or replaced (sharing reading and writing but not deletion): the check
    before converting and the final move are each tried again for about two
    seconds. The temporary file can't be held at all without sharing its
    deletion."""

    def setUp(self):
        if not target.launcher:
            self.skipTest("needs the launcher of the Windows suite")
        super().setUp()

    def test_earlier_frame_held(self):
        """Let go after 400 ms, the picture converts; held for 12 s, the run
        stops with the code, after the retries and no longer."""
        rows = sample_rows(3, 2)
        for share, milliseconds, code in [("r", 400, 0), ("rw", 400, 0), ("r", 12000, 32), ("rw", 12000, 5)]:
            with self.subTest(share=share, milliseconds=milliseconds):
                self.fresh()
                self.put(INPUT, make_bitmap(3, 2, rows))
                self.put("pic.frm", self.OLD)
                status, out = self.run_command_line(b"tessera pic.bmp", "--hold", "pic.frm", share, str(milliseconds))
                ran = re.search(rb"ran (\d+) ms", self.stderr)
                self.assertTrue(ran, self.said())
                if code == 0:
                    self.assert_converted(status, out, "pic.frm", frame(3, 2, rows))
                    continue
                self.assert_stopped(status, out, code, others={"pic.frm"})
                self.assertEqual(self.read("pic.frm"), self.OLD)
                self.assertTrue(1000 <= int(ran.group(1)) <= 6000, f"stopped after {ran.group(1)} ms")

    def test_temporary_file_held(self):
        """A scanner opens the new temporary file as it appears and holds it
        for 5 s, sharing reading and writing but not deletion. A FIFO as the
        input keeps the run still until the scanner has tried. The run ends
        with 0 or with its code, and nothing named tessera-* remains once the
        scanner lets go."""
        put_busy_input(self)
        self.put("pic.frm", self.OLD)
        command = self.launcher_command(b"tessera pic.bmp", "--hold", "tessera-*.tmp", "rw", "5000")
        with subprocess.Popen(command, cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE) as launcher:
            for tried in launcher.stderr:  # past any message of Wine's
                if re.match(rb"held|refused", tried):
                    break
            out, self.stderr = launcher.communicate(timeout=120)
        if launcher.returncode != 0:
            self.assert_stopped(launcher.returncode, out, launcher.returncode, others={"pic.frm"})
        self.assertEqual({name for name in self.files() if name.startswith("tessera-")}, set(), tried)


def put_busy_input(case):
    """A bitmap of 16384 x 16384 zeros as the input, sparse on disk: reading
    it and writing its frame keep a run busy while its temporary file exists
    (only a regular file is read, so a FIFO can't hold it)."""
    case.put(INPUT, with_size(16384, 16384)[:-4])
    os.truncate(case.path(INPUT), os.path.getsize(case.path(INPUT)) + 16384 * 16384)


class Interruptions(Case):
    """An interruption while the temporary file exists (a large input keeps
    the run there) removes it and ends the run the way the caller expects,
    without a report; the earlier frame stays whole."""

    def interrupted(self):
        put_busy_input(self)
        self.put("pic.frm", self.OLD)

    def wait_for_temporary(self, process):
        deadline = time.monotonic() + 60
        while not any(name.startswith("tessera-") for name in self.files()):
            self.assertIsNone(process.poll(), "ended before its temporary file appeared")
            self.assertLess(time.monotonic(), deadline, "no temporary file")
            time.sleep(0.01)

    def assert_nothing_left(self):
        self.assertEqual(self.files(), {INPUT, "pic.frm"})
        self.assertEqual(self.read("pic.frm"), self.OLD)

    def test_signals(self):
        """The run ends by the signal sent; one the caller ignores stays
        ignored, and the next one ends it."""
        if target.wine:
            self.skipTest("POSIX signals")
        for ignored, sent in [(None, [signal.SIGINT]), (None, [signal.SIGTERM]), (None, [signal.SIGHUP]),
                              (signal.SIGINT, [signal.SIGINT, signal.SIGTERM])]:
            with self.subTest(ignored=ignored, sent=sent):
                self.fresh()
                self.interrupted()
                process = subprocess.Popen([target.program, "pic.bmp"], cwd=self.dir, stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE,
                                           preexec_fn=ignored and (lambda: signal.signal(ignored, signal.SIG_IGN)))
                with process:
                    self.wait_for_temporary(process)
                    for number in sent:
                        process.send_signal(number)
                    out, err = process.communicate(timeout=60)
                self.assertEqual((process.returncode, out, err), (-sent[-1], b"", b""))
                self.assert_nothing_left()

    def test_ctrl_c(self):
        """Windows: Ctrl-C from a console the run shares with the launcher
        ends it with STATUS_CONTROL_C_EXIT."""
        if not target.launcher:
            self.skipTest("needs the launcher of the Windows suite")
        self.interrupted()
        status, out = self.run_command_line(b"tessera pic.bmp", "--interrupt")
        self.assertEqual((status, out), (0xC000013A & 0xFF, b""), self.said())
        self.assert_nothing_left()
