"""Every picture of the bitmap corpus, with its known outcome."""

import hashlib
import os

from harness import CORPUS, INPUT, Case


class Corpus(Case):
    """Every picture of the outside corpus, with its known outcome."""

    def test_every_row(self):
        with open(os.path.join(CORPUS, "expected.tsv")) as table:
            rows = [line.rstrip("\n").split("\t") for line in table if not line.startswith("#")]
        self.assertGreater(len(rows), 80)
        for path, status, name, length, digest in rows:
            with self.subTest(path):
                self.fresh()
                with open(os.path.join(CORPUS, path), "rb") as f:
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
