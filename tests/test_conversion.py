"""Bitmaps that convert, and the frames they give."""

from harness import Case, frame, make_bitmap, past_the_end, sample_rows


class Conversion(Case):
    def check(self, width, height, rows=None, bits=8, **bitmap_options):
        rows = rows or sample_rows(width, height, bits)
        status, out = self.convert(make_bitmap(width, height, rows, bits=bits, **bitmap_options), "pic.bmp")
        self.assert_converted(status, out, "pic.frm", frame(width, height, rows))

    def test_row_padding_is_dropped_and_rows_reversed(self):
        # 1, 2 and 4 bits a pixel: one byte each in the frame.
        for bits in [8, 4, 2, 1]:
            for width in [1, 2, 3, 4, 5, 8, 9, 127]:
                with self.subTest(bits=bits, width=width):
                    self.check(width, 3, bits=bits)

    def test_five_by_two(self):
        # Stride 8: the output is bytes 8 to 12 of the block, then 0 to 4.
        block = bytes(range(16))
        bitmap = make_bitmap(5, 2, [block[8:13], block[0:5]])
        self.assertEqual(bitmap[-16:], bytes(range(5)) + bytes(3) + bytes(range(8, 13)) + bytes(3))
        status, out = self.convert(bitmap, "five.bmp")
        self.assert_converted(status, out, "five.frm", frame(5, 2, [block[8:13], block[0:5]]))

    def test_top_down_keeps_stored_order(self):
        for bits in [8, 4, 2, 1]:
            with self.subTest(bits=bits):
                self.check(5, 3, bits=bits, top_down=True)

    def test_run_length_encoded(self):
        # Painted from the bottom row up; what the stream skips is index 0;
        # bytes after its end don't count.
        rle8 = bytes([2, 7, 1, 8, 0, 0, 0, 2, 1, 0, 2, 9, 0, 1, 5, 5])
        for bits in [8, 4, 1]:  # Java writes RLE8 under a bit count of 1 or 4: the indices are in the data
            self.check(3, 2, [b"\0\x09\x09", b"\x07\x07\x08"], bits=bits, compression=1, stream=rle8)
        rle4 = bytes([3, 0x12, 0, 0, 0, 3, 0xAB, 0xC0, 0, 1])
        self.check(3, 2, [b"\x0a\x0b\x0c", b"\x01\x02\x01"], bits=4, compression=2, stream=rle4)

    def test_empty_images_are_the_header_alone(self):
        for width, height in [(0, 5), (5, 0), (0, 0)]:
            with self.subTest(width=width, height=height):
                self.check(width, height)
                self.check(width, height, bits=1)
                self.check(width, height, compression=1, stream=b"")
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
        # An OS/2 core header: 16-bit sizes; the file may end soon after it.
        self.check(6, 2, info_size=12)
        self.check(6, 2, bits=4, info_size=12)
        self.check(2, 2, info_size=12, offset=26)

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
