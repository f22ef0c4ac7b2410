"""Bitmaps that convert, and the frames they give."""

from harness import Case, frame, make_bitmap, past_the_end, sample_rows


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
