"""Files the program may not touch."""

import os
import subprocess

from harness import CODE, INPUT, Case, drop_privileges, make_bitmap, target


class Permissions(Case):
    """Run as an ordinary user, so that permissions bind even for root."""

    def setUp(self):
        super().setUp()
        probe = subprocess.run(["/bin/sh", "-c", "test -w ."], cwd=self.dir, preexec_fn=drop_privileges)
        if probe.returncode != 0:
            self.skipTest(f"an unprivileged user can't reach {self.dir}")
        if target.wine and os.geteuid() == 0 and not target.wine_user_env:
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
