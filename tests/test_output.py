"""Standard output: the warning, and when the text goes out."""

import os
import pty
import re
import select
import shutil
import tty

from harness import CODE, WARNING, Case, file_size_limit, target


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

    def test_lost_at_the_end(self):
        # To a file or pipe the text goes out at the end, where a failed write
        # is ignored; above all the program must not die of the broken pipe
        # or of the file-size limit.
        read_end, write_end = os.pipe()
        os.close(read_end)
        for name, options in [("closed pipe", dict(stdout=write_end)),
                              ("file past its size limit", dict(stdout="file", preexec_fn=file_size_limit(0)))]:
            with self.subTest(name):
                self.assertEqual(self.run_program(**options), (0, b""))
        os.close(write_end)


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
        if target.wine:
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
                   target.program, *args]
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
